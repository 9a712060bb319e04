#include "job_slot.h"

namespace quorvil {

const std::string& JobSlot::ScriptDir()
{
    const std::string& dir = scriptDir_.Get([this](const std::string& name) {
        if (!ScriptDirectory::Owned())
            return;
        if (!folderNamed_.empty())
            folderRecord_.Forget(folderNamed_); // a name taken meanwhile, not ours
        folderNamed_ = name;
        folderRecord_.Folder(name);
        folderRecord_.Save();
    });
    if (ScriptDirectory::Owned() && !folderRecorded_) {
        folderRecord_.Folder(dir);
        folderRecord_.Save();
        folderRecorded_ = true;
    }
    return dir;
}

} // namespace quorvil
