#pragma once

#include <string>
#include <utility>

#include "entry_record.h"
#include "script_directory.h"

namespace quorvil {

// Where entries write their scripts. A run converts one entry at a time on each of its job slots;
// a run that converts one entry at a time has one, number 0.
class JobSlot {
public:
    JobSlot(const std::string& programDir, int number, RecordPlace records = {})
        : records(std::move(records)), number(number), folderRecord_(this->records.folder, this->records.owner),
          scriptDir_(programDir)
    {
    }

    // The directory of the slot's scripts (see ScriptDirectory). One made for the slot is recorded for
    // the slot's whole life, so that a run killed between two entries leaves it to the next run too.
    [[nodiscard]] const std::string& ScriptDir();

    const RecordPlace records; // where its entries keep their records (entry_record.h)
    const int number;

private:
    EntryRecord folderRecord_;  // made before the directory it names, and gone after it
    ScriptDirectory scriptDir_; // on POSIX a private directory of the slot's own
    bool folderRecorded_ = false;
    std::string folderNamed_; // the name it was recorded by before it was made
};

} // namespace quorvil
