#include "foundation/AtomicReplace.h"

#include "foundation/FileSystem.h"
#include "foundation/Uuid.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

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

bool failWithErrno(Error* error) {
    setError(error, Error::posix(errno));
    return false;
}

bool isUnsupported(long long errorNumber) {
    return errorNumber == EINVAL || errorNumber == ENOSYS || errorNumber == EOPNOTSUPP;
}

// rename(2), optionally refusing to replace anything (RENAME_NOREPLACE, emulated where the file
// system does not know the flag).
bool renameStep(const std::string& from, const std::string& to, bool noReplace, Error* error) {
    if (injectedFailure("rename", error)) {
        return false;
    }
    if (!noReplace) {
        return ::rename(from.c_str(), to.c_str()) == 0 || failWithErrno(error);
    }
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (!isUnsupported(errno)) {
        return failWithErrno(error);
    }
    if (FileSystem::itemExists(to)) {
        setError(error, Error::posix(EEXIST));
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 || failWithErrno(error);
}

bool exchangeStep(const std::string& first, const std::string& second, Error* error) {
    if (injectedFailure("exchange", error)) {
        return false;
    }
    return ::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE) == 0 ||
           failWithErrno(error);
}

bool removeStep(const std::string& path, Error* error) {
    if (injectedFailure("remove", error)) {
        return false;
    }
    return FileSystem::removeItem(path, error);
}

bool copyStep(const std::string& from, const std::string& to, Error* error) {
    if (injectedFailure("copy", error)) {
        return false;
    }
    return FileSystem::copyItem(from, to, error);
}

bool isDirectory(const std::string& path) {
    const auto status = FileSystem::statusOfItem(path);
    return status && status->isDirectory();
}

// For file systems without an atomic exchange. Two non-folders are replaced by one rename(2);
// otherwise the old item is moved aside first and put back when the new one cannot take its place.
bool replaceWithoutExchange(const std::string& staged, const std::string& target, Error* error) {
    if (!isDirectory(staged) && !isDirectory(target)) {
        return renameStep(staged, target, false, error);
    }
    const std::string aside = AtomicReplace::stagingPathBeside(target);
    if (!renameStep(target, aside, true, error)) {
        return false;
    }
    if (!renameStep(staged, target, true, error)) {
        renameStep(aside, target, true, nullptr);
        return false;
    }
    removeStep(aside, nullptr);
    return true;
}

} // namespace

std::string AtomicReplace::stagingPathBeside(const std::string& path) {
    const std::string folder = FileSystem::deletingLastPathComponent(FileSystem::standardizePath(path));
    return FileSystem::appendPathComponent(folder, ".lanyard-staging-" + makeUuidString());
}

bool AtomicReplace::installStagedItem(const std::string& staged, const std::string& target, bool* replaced,
                                      Error* error) {
    if (replaced) {
        *replaced = false;
    }
    if (!FileSystem::itemExists(target)) {
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
        removeStep(staged, nullptr); // the old item, now under the staging name
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

bool AtomicReplace::replaceWithCopy(const std::string& from, const std::string& to, bool* replaced,
                                    Error* error) {
    const std::string staged = stagingPathBeside(to);
    if (!copyStep(from, staged, error)) {
        return false; // the copy removes whatever it had created
    }
    if (!installStagedItem(staged, to, replaced, error)) {
        removeStep(staged, nullptr);
        return false;
    }
    return true;
}

bool AtomicReplace::replaceWithMove(const std::string& from, const std::string& to, bool* replaced,
                                    Error* error) {
    const std::string staged = stagingPathBeside(to);
    bool renamed = true;
    Error renameError;
    if (!renameStep(from, staged, true, &renameError)) {
        if (renameError.code != EXDEV) {
            setError(error, renameError);
            return false;
        }
        renamed = false;
        if (!copyStep(from, staged, error)) {
            return false;
        }
    }
    if (!installStagedItem(staged, to, replaced, error)) {
        if (renamed) {
            renameStep(staged, from, true, nullptr); // back where it was
        } else {
            removeStep(staged, nullptr);
        }
        return false;
    }
    if (!renamed) {
        removeStep(from, nullptr);
    }
    return true;
}

void AtomicReplace::setFaultInjector(FaultInjector newInjector) {
    std::lock_guard<std::mutex> guard(injectorLock());
    injector() = std::move(newInjector);
}

} // namespace platform
