#pragma once

#include "foundation/Error.h"
#include "foundation/SharedFolder.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Puts a new item in the place of an old one so that the old item stays whole until the new one
// is complete: the new item is first built aside, under a hidden name in the target's own folder
// (so on the target's file system), and then swapped in with one rename. A failure at any step
// leaves the target as it was and removes what was built aside.
//
// Every file system step goes through a fault injector that tests can install to make the Nth
// step fail.
class AtomicReplace {
public:
    // A fresh hidden name in the folder of `path`, for building an item beside it. Nothing is
    // created.
    static std::string stagingPathBeside(const std::string& path);

    // Copies `from` (a file, or a folder with everything in it) to `to`, replacing what is at `to`
    // once the copy is complete. `replaced` tells whether something was at `to` before.
    static bool replaceWithCopy(const std::string& from, const std::string& to, bool* replaced, Error* error);
    // Moves `from` to `to`, replacing what is at `to`. Within one file system `from` is renamed;
    // across file systems it is copied, and removed once the copy is in place (a source that then
    // cannot be removed stays, and the move still succeeds). On failure `from` and `to` are as they
    // were.
    static bool replaceWithMove(const std::string& from, const std::string& to, bool* replaced, Error* error);
    // Puts the item built at `staged` (in the folder of `target`) at `target`: renamed there when
    // nothing is there, else swapped with the old item, which is then removed. On failure the
    // target is unchanged and `staged` is still there.
    static bool installStagedItem(const std::string& staged, const std::string& target, bool* replaced,
                                  Error* error);

    // The same for items resolved beneath a shared folder: every step works on the descriptors of
    // the folders that hold them.
    static bool replaceWithCopy(const SharedItem& from, const SharedItem& to, bool* replaced, Error* error);
    static bool replaceWithMove(const SharedItem& from, const SharedItem& to, bool* replaced, Error* error);
    static bool installStagedItem(const SharedItem& staged, const SharedItem& target, bool* replaced,
                                  Error* error);

    // Copy and move that never replace anything: the item is put at `to` only when nothing is
    // there at that moment (renameat2 with RENAME_NOREPLACE, or a hard link where the file system
    // lacks the flag), else they fail with EEXIST and change nothing. A copy is built aside first,
    // so no half-made item is ever seen at `to`; a move across file systems copies, puts the copy
    // in place, then removes `from`.
    static bool copyWithoutReplacing(const SharedItem& from, const SharedItem& to, Error* error);
    static bool moveWithoutReplacing(const SharedItem& from, const SharedItem& to, Error* error);

    // A copy in two halves, for a caller that decides at the last moment whether it may go in:
    // `from` copied under a hidden name beside `to` (none, with nothing left behind, on failure),
    // leaving out the entries `leftOut` names (with `record`, noting what it copied, see
    // SharedFolder::copyItem), then put in place by installStagedItem or
    // installStagedItemWithoutReplacing (or removed).
    static std::optional<SharedItem> copyBeside(const SharedItem& from, const SharedItem& to, Error* error,
                                                const SharedFolder::NameFilter& leftOut = {},
                                                CopiedItem* record = nullptr);
    // installStagedItem for a caller that removes the old item itself, later and without the
    // target's lock: an old item swapped out is left under the staged item's name, and `leftOld`
    // tells whether it is there (a file system without an atomic exchange removes it at once).
    static bool installStagedItemLeavingOld(const SharedItem& staged, const SharedItem& target,
                                            bool* replaced, bool* leftOld, Error* error);
    // Whether a name is one this class (or a request staging its body beside its target) gives the
    // items it builds aside: the prefix and a UUID in the exact form it writes; a name of like
    // shape with anything else after the prefix is a user's.
    static bool isStagingName(std::string_view name);
    // Renames the staged item to `target` only when nothing is there (EEXIST otherwise); the
    // staged item stays on failure.
    static bool installStagedItemWithoutReplacing(const SharedItem& staged, const SharedItem& target,
                                                  Error* error);

    // A removal in two halves, for a caller that holds the item's lock only for the first: the item
    // renamed to a hidden name beside it (none on failure, the item as it was), then removed with
    // everything in it, which may take long, without the lock. When that removal fails part way, what
    // is left goes back under `name` (its name before) unless something has taken it meanwhile.
    static std::optional<SharedItem> moveAside(const SharedItem& item, Error* error);
    static bool removeAside(const SharedItem& aside, const std::string& name, Error* error);

    // The steps are named "copy", "rename", "exchange" and "remove". The injector answers an error
    // number to fail the step with, or 0 to let it run. Empty: no injection.
    using FaultInjector = std::function<int(std::string_view step)>;
    static void setFaultInjector(FaultInjector injector);
};

} // namespace platform
