#pragma once
// From an entry's name to the path it is restored at, judged on the text
// alone: nothing here touches the disk, so an unsafe name is refused before
// anything is made for it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "restore/restore.h"

// The target path of a name and the folder levels on the way, with the
// platform separator between levels.
struct TargetPlan {
    std::u16string target;
    std::vector<std::size_t> levelEnds;  // prefixes of `target` naming each folder level
    std::size_t leafStart = 0;           // where the leaf begins in `target`

    // The name ends in a separator, or names the destination itself: no
    // file can be written there.
    bool NamesFolder() const { return leafStart == target.size(); }
    // The folder the target lives in, ending in the separator.
    std::u16string Folder() const { return target.substr(0, leafStart); }
};

// Plans the target of `entryName` below `destinationFolder` (absolute,
// ending in the separator). kNone when the name may be restored; else why
// not: kEmptyName, kUnsafeName (leaves the destination, names a device, a
// level ending in a dot or a space), kNameTooLong (a level the file system
// can't name), kPathTooLong (a path the platform can't take).
EntryFailure PlanEntryTarget(const std::u16string& entryName, const std::u16string& destinationFolder,
                             TargetPlan& plan);

// Windows opens a device for these names ("NUL", "com1.txt"), in any folder.
bool IsDeviceName(std::u16string_view component);

// The folder chain of the previous entry, known to exist. Archives list the
// entries of one folder together, so most entries would ask the disk again
// about the same levels; within a run nothing turns a folder that is there
// into something else, except the run's own undo, which forgets the chain.
class KnownFolders {
public:
    // Whether target's first `end` units name a level known to exist.
    bool Holds(const std::u16string& target, std::size_t end) const;
    void Remember(const std::u16string& target, std::size_t end) { deepest_.assign(target, 0, end); }
    void Forget() { deepest_.clear(); }

private:
    std::u16string deepest_;
};
