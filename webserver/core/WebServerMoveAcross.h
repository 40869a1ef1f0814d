#pragma once

// A move to another file system, shared by WebDAV's MOVE and the file manager's move: quick
// checks, then the long copy apart from the quick writes (WebServerStep::onLongOperations), then a
// short last step (WebServerStep::onFileOperations).

#include "WebServerTypes.h"

#include "foundation/SharedFolder.h"

#include <functional>
#include <memory>
#include <string_view>

// The file manager's staging folder, at the root of a shared folder.
inline constexpr const char* kWebServerUploadsFolderName = ".lanyard-uploads";

// Whether an entry is one the server itself made, which a copy leaves out: an item built aside
// (or a request body staged beside its target) under the work name the server writes, at any
// depth, and the file manager's staging folder where it keeps it, at the root of `share`. A user's
// items of like names are copied like any other.
bool IsServersOwnItem(const platform::SharedFolder& share, const platform::FileStatus& folder,
                      std::string_view name);
// The filter of every copy inside `share`: IsServersOwnItem.
platform::SharedFolder::NameFilter ServersOwnItems(std::shared_ptr<const platform::SharedFolder> share);

// A move of `from` to `to` on another file system that never loses a write answered meanwhile:
// 1. copy(), the long work, without any lock: `from` copied beside `to` under a work name, with a
//    record of each entry copied (its device, inode, size and time), then what changed meanwhile
//    copied again, a few rounds;
// 2. under the locks of both items (the caller's), catchUp(): what changed since copied too, again
//    until a look finds nothing new; then the caller puts staged() in place;
// 3. removeSource(), the locks let go: each entry removed only while it is still the one copied,
//    under that entry's own lock. What landed in the source after the last look stays there, with
//    the folders that hold it.
class WebServerMoveAcross {
public:
    WebServerMoveAcross(std::shared_ptr<const platform::SharedFolder> share, platform::SharedItem from,
                        platform::SharedItem to);
    ~WebServerMoveAcross(); // removes a staged copy that did not go in
    WebServerMoveAcross(const WebServerMoveAcross&) = delete;
    WebServerMoveAcross& operator=(const WebServerMoveAcross&) = delete;

    // Whether `from` and the folder of `to` are on two file systems (so a rename cannot move it).
    static bool isAcross(const platform::SharedItem& from, const platform::SharedItem& to);

    const platform::SharedItem& from() const { return _from; }
    const platform::SharedItem& to() const { return _to; }

    // Step 1; false with the error (kept for step 2) when no copy could be made.
    bool copy();
    // Step 2: false with the error of step 1 or of this one: EAGAIN when the source kept changing
    // through every round (the copy is then removed and the source left whole).
    bool catchUp(Error* error);
    // The copy, ready to go in (after catchUp).
    const platform::SharedItem& staged() const { return *_staged; }
    // After the copy went in (it is no longer the move's to remove). True when the source has gone.
    bool removeSource();

    // For tests: called at each point the move reaches ("copied": the first copy made, no lock
    // held; "look": before each look under the locks; "caught up": the last look found nothing
    // new, the locks held). An error number fails the move there; 0 lets it go on.
    using StepHook = std::function<int(std::string_view step)>;
    static void setStepHook(StepHook hook);

private:
    bool hookFails(std::string_view step, Error* error) const;
    void discard();

    std::shared_ptr<const platform::SharedFolder> _share;
    platform::SharedItem _from;
    platform::SharedItem _to;
    std::optional<platform::SharedItem> _staged;
    platform::CopiedItem _record;
    Error _copyError;
    bool _installed = false;
};
