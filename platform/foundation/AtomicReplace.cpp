#include "foundation/AtomicReplace.h"

#include "foundation/FileSystem.h"
#include "foundation/SharedFolder.h"
#include "foundation/Uuid.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace platform {

namespace {

std::mutex& injectorLock() {
    static std::mutex lock;
    return lock;
}

AtomicReplace::FaultInjector& injector() {
    static AtomicReplace::FaultInjector value;
    return value;
}

// True (with the error set) when the installed injector fails this step.
bool injectedFailure(std::string_view step, Error* error) {
    AtomicReplace::FaultInjector current;
    {
        std::lock_guard<std::mutex> guard(injectorLock());
        current = injector();
    }
    if (!current) {
        return false;
    }
    const int errorNumber = current(step);
    if (errorNumber == 0) {
        return false;
    }
    setError(error, Error::posix(errorNumber));
    return true;
}

bool isUnsupported(long long errorNumber) {
    return errorNumber == EINVAL || errorNumber == ENOSYS || errorNumber == EOPNOTSUPP;
}

bool itemExists(const SharedItem& item) {
    return SharedFolder::status(item).has_value();
}

bool isDirectory(const SharedItem& item) {
    const auto status = SharedFolder::status(item);
    return status && status->isDirectory();
}

// renameat2, optionally refusing to replace anything (RENAME_NOREPLACE, emulated where the file
// system does not know the flag).
bool renameStep(const SharedItem& from, const SharedItem& to, bool noReplace, Error* error) {
    if (injectedFailure("rename", error)) {
        return false;
    }
    if (!noReplace) {
        return SharedFolder::renameItem(from, to, 0, error);
    }
    Error renameError;
    if (SharedFolder::renameItem(from, to, RENAME_NOREPLACE, &renameError)) {
        return true;
    }
    if (!isUnsupported(renameError.code)) {
        setError(error, renameError);
        return false;
    }
    // Without the flag: a hard link refuses an existing name by itself (not for folders).
    if (!isDirectory(from)) {
        if (::linkat(from.folder.get(), from.name.c_str(), to.folder.get(), to.name.c_str(), 0) == 0) {
            ::unlinkat(from.folder.get(), from.name.c_str(), 0);
            return true;
        }
        if (errno == EEXIST) {
            setError(error, Error::posix(EEXIST));
            return false;
        }
    }
    if (itemExists(to)) {
        setError(error, Error::posix(EEXIST));
        return false;
    }
    return SharedFolder::renameItem(from, to, 0, error);
}

bool exchangeStep(const SharedItem& first, const SharedItem& second, Error* error) {
    if (injectedFailure("exchange", error)) {
        return false;
    }
    return SharedFolder::renameItem(first, second, RENAME_EXCHANGE, error);
}

bool removeStep(const SharedItem& item, Error* error) {
    if (injectedFailure("remove", error)) {
        return false;
    }
    return SharedFolder::removeItem(item, error);
}

bool copyStep(const SharedItem& from, const SharedItem& to, Error* error,
              const SharedFolder::NameFilter& leftOut = {}, CopiedItem* record = nullptr) {
    if (injectedFailure("copy", error)) {
        return false;
    }
    return SharedFolder::copyItem(from, to, error, leftOut, record);
}

constexpr std::string_view kStagingPrefix = ".lanyard-staging-";

std::optional<SharedItem> stagingItemBeside(const SharedItem& item, Error* error) {
    return SharedFolder::sibling(item, std::string(kStagingPrefix) + makeUuidString(), error);
}

// For file systems without an atomic exchange. Two non-folders are replaced by one rename;
// otherwise the old item is moved aside first and put back when the new one cannot take its place.
bool replaceWithoutExchange(const SharedItem& staged, const SharedItem& target, Error* error) {
    if (!isDirectory(staged) && !isDirectory(target)) {
        return renameStep(staged, target, false, error);
    }
    const auto aside = stagingItemBeside(target, error);
    if (!aside || !renameStep(target, *aside, true, error)) {
        return false;
    }
    if (!renameStep(staged, target, true, error)) {
        renameStep(*aside, target, true, nullptr);
        return false;
    }
    removeStep(*aside, nullptr);
    return true;
}

} // namespace

std::string AtomicReplace::stagingPathBeside(const std::string& path) {
    const std::string folder = FileSystem::deletingLastPathComponent(FileSystem::standardizePath(path));
    return FileSystem::appendPathComponent(folder, std::string(kStagingPrefix) + makeUuidString());
}

bool AtomicReplace::isStagingName(std::string_view name) {
    return name.substr(0, kStagingPrefix.size()) == kStagingPrefix &&
           isUuidString(name.substr(kStagingPrefix.size()));
}

bool AtomicReplace::installStagedItem(const SharedItem& staged, const SharedItem& target, bool* replaced,
                                      Error* error) {
    bool leftOld = false;
    if (!installStagedItemLeavingOld(staged, target, replaced, &leftOld, error)) {
        return false;
    }
    if (leftOld) {
        removeStep(staged, nullptr); // the old item, now under the staging name
    }
    return true;
}

bool AtomicReplace::installStagedItemLeavingOld(const SharedItem& staged, const SharedItem& target,
                                                bool* replaced, bool* leftOld, Error* error) {
    *leftOld = false;
    if (replaced) {
        *replaced = false;
    }
    if (!itemExists(target)) {
        Error renameError;
        if (renameStep(staged, target, true, &renameError)) {
            return true;
        }
        if (renameError.code != EEXIST) {
            setError(error, renameError);
            return false;
        }
        // Something took the name meanwhile: replace it like any existing item.
    }
    Error exchangeError;
    if (exchangeStep(staged, target, &exchangeError)) {
        *leftOld = true;
    } else if (!isUnsupported(exchangeError.code)) {
        setError(error, exchangeError);
        return false;
    } else if (!replaceWithoutExchange(staged, target, error)) {
        return false;
    }
    if (replaced) {
        *replaced = true;
    }
    return true;
}

std::optional<SharedItem> AtomicReplace::copyBeside(const SharedItem& from, const SharedItem& to,
                                                    Error* error, const SharedFolder::NameFilter& leftOut,
                                                    CopiedItem* record) {
    auto staged = stagingItemBeside(to, error);
    if (!staged || !copyStep(from, *staged, error, leftOut, record)) {
        return std::nullopt; // the copy removes whatever it had created
    }
    return staged;
}

bool AtomicReplace::installStagedItemWithoutReplacing(const SharedItem& staged, const SharedItem& target,
                                                      Error* error) {
    return renameStep(staged, target, true, error);
}

bool AtomicReplace::replaceWithCopy(const SharedItem& from, const SharedItem& to, bool* replaced,
                                    Error* error) {
    const auto staged = copyBeside(from, to, error);
    if (!staged) {
        return false;
    }
    if (!installStagedItem(*staged, to, replaced, error)) {
        removeStep(*staged, nullptr);
        return false;
    }
    return true;
}

bool AtomicReplace::replaceWithMove(const SharedItem& from, const SharedItem& to, bool* replaced,
                                    Error* error) {
    const auto staged = stagingItemBeside(to, error);
    if (!staged) {
        return false;
    }
    bool renamed = true;
    Error renameError;
    if (!renameStep(from, *staged, true, &renameError)) {
        if (renameError.code != EXDEV) {
            setError(error, renameError);
            return false;
        }
        renamed = false;
        if (!copyStep(from, *staged, error)) {
            return false;
        }
    }
    if (!installStagedItem(*staged, to, replaced, error)) {
        if (renamed) {
            renameStep(*staged, from, true, nullptr); // back where it was
        } else {
            removeStep(*staged, nullptr);
        }
        return false;
    }
    if (!renamed) {
        removeStep(from, nullptr);
    }
    return true;
}

bool AtomicReplace::copyWithoutReplacing(const SharedItem& from, const SharedItem& to, Error* error) {
    const auto staged = copyBeside(from, to, error);
    if (!staged) {
        return false;
    }
    if (!renameStep(*staged, to, true, error)) {
        removeStep(*staged, nullptr);
        return false;
    }
    return true;
}

bool AtomicReplace::moveWithoutReplacing(const SharedItem& from, const SharedItem& to, Error* error) {
    Error renameError;
    if (renameStep(from, to, true, &renameError)) {
        return true;
    }
    if (renameError.code != EXDEV) {
        setError(error, renameError);
        return false;
    }
    if (!copyWithoutReplacing(from, to, error)) {
        return false;
    }
    removeStep(from, nullptr); // a source that cannot be removed stays; the move still succeeded
    return true;
}

bool AtomicReplace::installStagedItem(const std::string& staged, const std::string& target, bool* replaced,
                                      Error* error) {
    auto stagedItem = SharedFolder::itemAtPath(staged, error);
    auto targetItem = stagedItem ? SharedFolder::itemAtPath(target, error) : std::nullopt;
    return targetItem && installStagedItem(*stagedItem, *targetItem, replaced, error);
}

bool AtomicReplace::replaceWithCopy(const std::string& from, const std::string& to, bool* replaced,
                                    Error* error) {
    auto fromItem = SharedFolder::itemAtPath(from, error);
    auto toItem = fromItem ? SharedFolder::itemAtPath(to, error) : std::nullopt;
    return toItem && replaceWithCopy(*fromItem, *toItem, replaced, error);
}

bool AtomicReplace::replaceWithMove(const std::string& from, const std::string& to, bool* replaced,
                                    Error* error) {
    auto fromItem = SharedFolder::itemAtPath(from, error);
    auto toItem = fromItem ? SharedFolder::itemAtPath(to, error) : std::nullopt;
    return toItem && replaceWithMove(*fromItem, *toItem, replaced, error);
}

std::optional<SharedItem> AtomicReplace::moveAside(const SharedItem& item, Error* error) {
    auto aside = stagingItemBeside(item, error);
    if (!aside || !renameStep(item, *aside, true, error)) {
        return std::nullopt;
    }
    return aside;
}

bool AtomicReplace::removeAside(const SharedItem& aside, const std::string& name, Error* error) {
    // A writer that opened a folder inside before it was set aside may still add an entry while the
    // removal runs: the removal goes over it again.
    constexpr int kAttempts = 3;
    Error removeError;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        removeError = Error();
        if (removeStep(aside, &removeError)) {
            return true;
        }
        if (removeError.code != ENOTEMPTY) {
            break;
        }
    }
    if (!SharedFolder::status(aside)) {
        return true; // gone all the same
    }
    setError(error, removeError);
    if (const auto back = SharedFolder::sibling(aside, name)) {
        renameStep(aside, *back, true, nullptr);
    }
    return false;
}

void AtomicReplace::setFaultInjector(FaultInjector newInjector) {
    std::lock_guard<std::mutex> guard(injectorLock());
    injector() = std::move(newInjector);
}

} // namespace platform
