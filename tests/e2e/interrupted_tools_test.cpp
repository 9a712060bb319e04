// Our tools ended, killed or orphaned mid-write, and neighbours at their names: a run leaves
// nothing of theirs behind, and a later run converts.
#include <functional>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "conversion_fixture.h"
#include "entry_record.h"
#include "test_support.h"

namespace quorvil {
namespace {

using test::ReadFile;
using test::TempDir;
namespace fs = std::filesystem;

// A run killed just after a tool named an output, before it recorded the file itself, leaves nothing
// that no record names: the tools record each output before it takes its name.
TEST_F(ConversionTest, OurToolsRecordEachOutputBeforeItTakesItsName)
{
    const TempDir records;
    const test::ScopedEnv recordHere("QUORVIL_OUTPUT_RECORD", records / "entry-dead-tool");
    const std::string source = clips / "in.avi";
    MakeAvi(source, kStereo + ":s=22050", "pcm_s16le");
    const std::string script = clips / "script.vdf";
    test::WriteFile(script, "VirtualDub.Open(\"" + source + "\");\nVirtualDub.SaveWAV(\"" + source +
                                ".wav\");\nVirtualDub.audio.SetSource(0);\nVirtualDub.SaveCompatibleAVI(\"" + source +
                                ".video.avi\");\nVirtualDub.Close();\n");
    int code = -1;
    Capture(Q(app / "vdub") + " /s " + Q(script) + " /min 2>&1", &code);
    EXPECT_EQ(code, 0);
    Capture(Q(app / "sox") + " " + Q(source + ".wav") + " " + Q(source + ".A1.wav") + " remix 1 2>&1", &code);
    EXPECT_EQ(code, 0);
    for (const char* output : {".wav", ".video.avi", ".A1.wav"})
        EXPECT_TRUE(fs::exists(source + output)) << output;
    // Their run is gone (no lock of its own beside the records): what they recorded is taken back.
    EXPECT_EQ(TakeBackWhatDeadRunsLeft(records.dir(), {"self"}), "");
    for (const char* output : {".wav", ".video.avi", ".A1.wav"})
        EXPECT_FALSE(fs::exists(source + output)) << output;
    EXPECT_TRUE(fs::exists(source));
}

TEST_F(ConversionTest, AVideoToolKilledMidWriteFailsItsEntryLeavesNothingAndARerunConverts)
{
    const std::string a = clips / "a.avi";
    MakeAvi(a, kStereo, "pcm_s16le");
    const std::string before = ReadFile(a);
    for (const bool subdir : {true, false}) {
        SCOPED_TRACE(subdir ? "into a subdirectory" : "beside the source");
        const std::string options = subdir ? "--delete a.avi" : "--no-subdir --delete a.avi";
        {
            // In vdub's place, a program that runs it and kills it with SIGKILL once it has written
            // 64 KiB of its outputs (of about 400 KiB), as the out-of-memory killer would.
            fs::rename(app / "vdub", app / "vdub.real");
            fs::copy_file(test::TestHelper("kill_mid_write"), app / "vdub");
            const test::ScopedEnv tool("KILL_TOOL", app / "vdub.real");
            const test::ScopedEnv after("KILL_AFTER_BYTES", "65536");
            const int code = Split(options);
            fs::remove(app / "vdub");
            fs::rename(app / "vdub.real", app / "vdub");
            if (output.find("vdub ended with exit code 77") != std::string::npos)
                GTEST_SKIP() << "a tool's writes cannot be traced here";
            EXPECT_EQ(code, 1) << output;
        }
        EXPECT_NE(output.find(a + ": vdub was ended by signal 9"), std::string::npos) << output;
        EXPECT_EQ(ReadFile(a), before);
        EXPECT_FALSE(fs::exists(a + "_processed"));
        EXPECT_FALSE(fs::exists(a + ".wav"));
        EXPECT_FALSE(fs::exists(a + ".noaudio.avi"));
        ExpectNoLeftovers();
        std::size_t files = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(clips.path()))
            ++files;
        EXPECT_EQ(files, 1u) << "the folder holds more than the source";

        EXPECT_EQ(Split(options), 0) << output;
        EXPECT_FALSE(fs::exists(a));
        fs::copy_file(subdir ? a + "_processed/a.avi.A1.wav" : a + ".A1.wav", clips / "kept.wav");
        for (const auto& entry : fs::directory_iterator(clips.path())) {
            if (entry.path().filename() != "kept.wav")
                fs::remove_all(entry.path());
        }
        fs::remove(clips / "kept.wav");
        test::WriteFile(a, before);
    }
}

TEST_F(ConversionTest, WhatANeighbourPutsAtAnOutputsNameWhileAToolRunsIsLeftAsItIs)
{
    // In the tool's place, a script that first does what the neighbour does, then runs the tool.
    const struct {
        const char* name;
        const char* options;
        const char* tool;
        const char* neighbour; // shell commands, in the sources' folder
        const char* theirs;    // the neighbour's file, which must hold "theirs" afterwards
    } rows[] = {
        {"the soundtrack's name", "", "vdub", "printf theirs > a.avi.wav", "a.avi.wav"},
        {"the video's name", "--no-subdir", "vdub", "printf theirs > a.avi.noaudio.avi", "a.avi.noaudio.avi"},
        {"the left channel's name", "--no-subdir", "sox", "[ -e a.avi.A1.wav ] || printf theirs > a.avi.A1.wav",
         "a.avi.A1.wav"},
        {"a folder of theirs in place of the output folder", "", "vdub",
         "mv a.avi_processed made && mkdir a.avi_processed && printf theirs > a.avi_processed/a.avi",
         "a.avi_processed/a.avi"},
    };
    const std::string a = clips / "a.avi";
    MakeAvi(a, kStereo, "pcm_s16le");
    const std::string source = ReadFile(a);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::rename(app / row.tool, app / (std::string(row.tool) + ".real"));
        test::WriteFile(app / row.tool, std::string("#!/bin/sh\n") + row.neighbour + "\nexec \"$0.real\" \"$@\"\n");
        fs::permissions(app / row.tool, fs::perms::owner_all);
        EXPECT_EQ(Split(std::string(row.options) + " --delete a.avi"), 1) << output;
        fs::rename(app / (std::string(row.tool) + ".real"), app / row.tool);
        EXPECT_EQ(ReadFile(clips / row.theirs), "theirs");
        EXPECT_EQ(ReadFile(a), source);
        for (const auto& entry : fs::directory_iterator(clips.path())) {
            if (entry.path() != a)
                fs::remove_all(entry.path());
        }
    }
}

// In the calling process (a child about to become a tool): hides /proc in a mount namespace of its
// own, so that a file made with O_TMPFILE cannot be named and the tools fall back on temporary
// names, as on a file system without O_TMPFILE. Whether it could (as root).
bool WithoutProc()
{
    return ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::umount2("/proc", MNT_DETACH) == 0;
}

// Starts argv with the process id it will have known beforehand: `prepare` runs in the new process
// before it becomes the program. Waits for its end; its exit code.
int RunAs(const std::vector<std::string>& argv, const std::function<void(pid_t)>& prepare)
{
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        prepare(::getpid());
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ConversionTest, LinksPlantedAtTheToolsTemporaryNamesRedirectNoWrite)
{
    // Where a tool still uses a temporary name (here because its target exists and is replaced), a
    // neighbour knows the next process id and plants links there to a file of the user's.
    const std::string source = clips / "a.avi";
    MakeAvi(source, kStereo + ":s=22050", "pcm_s16le");
    const std::string victim = clips / "victim.txt";
    test::WriteFile(victim, "the user's own file\n");
    const std::string out = clips / "out";
    test::WriteFile(out + ".wav", "an older soundtrack");
    test::WriteFile(out + ".avi", "an older video");
    test::WriteFile(out + ".vdf", "VirtualDub.Open(\"" + source + "\");\nVirtualDub.SaveWAV(\"" + out +
                                      ".wav\");\nVirtualDub.SaveCompatibleAVI(\"" + out + ".avi\");\n");
    test::WriteFile(out + ".A2.wav", "an older channel");
    const struct {
        const char* name;
        std::vector<std::string> argv;
        std::string prefix;
        std::string suffix;
        std::vector<std::string> outputs;
    } rows[] = {
        {"vdub", {app / "vdub", "/s", out + ".vdf"}, ".vdub-", "", {out + ".wav", out + ".avi"}},
        {"sox", {app / "sox", out + ".wav", out + ".A2.wav", "remix", "2"}, ".sox-", ".tmp", {out + ".A2.wav"}},
    };
    for (const bool named : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (named ? ", temporary names throughout" : ""));
            const int code = RunAs(row.argv, [&](pid_t pid) {
                if (named && !WithoutProc())
                    ::_exit(125);
                for (int n = 0; n < 3; ++n) {
                    const std::string link =
                        clips / (row.prefix + std::to_string(pid) + "-" + std::to_string(n) + row.suffix);
                    if (::symlink(victim.c_str(), link.c_str()) != 0)
                        ::_exit(126);
                }
            });
            if (code == 125) {
                std::fprintf(stderr, "not root: no mount namespace without /proc; those rows are skipped\n");
                continue;
            }
            EXPECT_EQ(code, 0);
            EXPECT_EQ(ReadFile(victim), "the user's own file\n");
            for (const auto& entry : fs::directory_iterator(clips.path())) {
                if (entry.path().filename().string().starts_with(row.prefix)) {
                    EXPECT_TRUE(fs::is_symlink(entry.symlink_status())) << entry.path();
                    fs::remove(entry.path());
                }
            }
            for (const auto& output : row.outputs)
                EXPECT_FALSE(fs::is_symlink(output) || ReadFile(output).starts_with("an older")) << output;
        }
    EXPECT_EQ(Probe(out + ".A2.wav", "stream=channels"), "1\n");
    EXPECT_TRUE(RawAudio(out + ".A2.wav") == Channel(RawAudio(source), 2, 2, 1));
    for (const auto& entry : fs::directory_iterator(clips.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << "left behind: " << entry.path();
}

// The state letter of a process (R, S, T, Z, ...), or 0 once it is gone.
char ProcessState(pid_t pid)
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(')');
    return end == std::string::npos || end + 2 >= stat.size() ? 0 : stat[end + 2];
}

TEST_F(ConversionTest, AToolEndedMidWriteOrOrphanedLeavesNothing)
{
    // The orphaned tools become ours to wait for.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const std::string source = clips / "a.avi";
    MakeAvi(source, kStereo + ":s=44100", "pcm_s16le");
    const std::string soundtrack = clips / "sound.wav";
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -i " + Q(source) + " -vn -c:a copy " + Q(soundtrack)).c_str()), 0);
    const std::string script = clips / "job.vdf";
    test::WriteFile(script, "VirtualDub.Open(\"" + source + "\");\nVirtualDub.SaveWAV(\"" + clips / "out.wav" +
                                "\");\nVirtualDub.SaveCompatibleAVI(\"" + clips / "out.avi" + "\");\n");
    const std::vector<std::string> vdub = {app / "vdub", "/s", script};
    const std::vector<std::string> sox = {app / "sox", soundtrack, clips / "out.A1.wav", "remix", "1"};
    const struct {
        const char* name;
        std::vector<std::string> argv;
        bool parentKilled; // else the tool itself, as by the out-of-memory killer
        bool named;        // temporary names throughout, as where the system has no O_TMPFILE
    } rows[] = {
        {"vdub killed", vdub, false, false},
        {"vdub's parent killed", vdub, true, false},
        {"sox killed", sox, false, false},
        {"sox's parent killed", sox, true, false},
        {"vdub killed, temporary names", vdub, false, true},
        {"vdub's parent killed, temporary names", vdub, true, true},
        {"sox killed, temporary names", sox, false, true},
        {"sox's parent killed, temporary names", sox, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        int report[2];
        ASSERT_EQ(::pipe(report), 0);
        // A stand-in for Quorvil: it starts the tool, says its id, and waits to be killed.
        const pid_t parent = ::fork();
        if (parent == 0) {
            const pid_t tool = ::fork();
            if (tool == 0) {
                if (row.named && !WithoutProc())
                    ::_exit(125);
                ::setenv("LD_PRELOAD", STOP_AT_WRITE, 1);
                std::vector<char*> args;
                for (const auto& arg : row.argv)
                    args.push_back(const_cast<char*>(arg.c_str()));
                args.push_back(nullptr);
                ::execv(args[0], args.data());
                ::_exit(127);
            }
            (void)!::write(report[1], &tool, sizeof tool);
            for (;;)
                ::pause();
        }
        ::close(report[1]);
        pid_t tool = -1;
        ASSERT_EQ(::read(report[0], &tool, sizeof tool), static_cast<ssize_t>(sizeof tool));
        ::close(report[0]);
        // Stopped at its first write to an output, or ended at once where no namespace could be made.
        ASSERT_TRUE(test::WaitUntil([tool] { return ProcessState(tool) == 'T' || ProcessState(tool) == 'Z'; },
                                    std::chrono::seconds(60)));
        if (ProcessState(tool) == 'Z') {
            ::kill(parent, SIGKILL);
            ::waitpid(parent, nullptr, 0);
            int status = 0;
            ::waitpid(tool, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 125) << status;
            std::fprintf(stderr, "not root: no mount namespace without /proc; %s is skipped\n", row.name);
            continue;
        }
        if (!row.parentKilled)
            ::kill(tool, SIGKILL);
        ::kill(parent, SIGKILL);
        ::waitpid(parent, nullptr, 0);
        if (row.parentKilled)
            ::kill(tool, SIGCONT);
        int status = 0;
        ASSERT_EQ(::waitpid(tool, &status, 0), tool);
        if (row.parentKilled) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status)) << status;
        }
        // A tool killed outright can leave its temporary files only (vdub has two open at once),
        // named by its process id for Quorvil to remove; anything else is left by no one.
        const std::string leftover = (row.argv[0].ends_with("vdub") ? ".vdub-" : ".sox-") + std::to_string(tool) + "-";
        int leftovers = 0;
        for (const auto& entry : fs::directory_iterator(clips.path())) {
            const std::string name = entry.path().filename().string();
            if (row.named && !row.parentKilled && name.starts_with(leftover)) {
                ++leftovers;
                fs::remove(entry.path());
            } else if (name != "a.avi" && name != "sound.wav" && name != "job.vdf") {
                ADD_FAILURE() << "left behind: " << name;
                fs::remove(entry.path()); // not to be taken for the next row's
            }
        }
        if (row.named && !row.parentKilled) {
            EXPECT_GT(leftovers, 0) << "no " << leftover << "N: the tool was not stopped while writing";
        }
    }
}

} // namespace
} // namespace quorvil
