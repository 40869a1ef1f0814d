#pragma once

// One lock per item of the shared folders, for the whole process: whoever changes an item (puts a
// file in its place, removes it, moves or copies onto it) holds the item's lock from the moment it
// evaluates its conditions until the change is made, so a conditional change never lands on an
// item that another writer changed in between.

#include "foundation/SharedFolder.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class WebServerItemLocks {
public:
    // An item as the table knows it: the folder that holds it (device and inode, so every path
    // to that folder, through links or from another server on it, names the same item) and its
    // name there.
    struct Key {
        std::uint64_t device = 0;
        std::uint64_t folder = 0;
        std::string name;
        auto operator<=>(const Key&) const = default;
    };

    // Holds the locks of a few items until it goes. They are taken in one order (each once), so
    // two holders of overlapping items never wait for each other.
    class Guard {
    public:
        Guard() = default;
        ~Guard() { release(); }
        Guard(Guard&& other) noexcept : _keys(std::move(other._keys)) { other._keys.clear(); }
        Guard& operator=(Guard&& other) noexcept;
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

        void release();

    private:
        friend class WebServerItemLocks;
        std::vector<Key> _keys;
    };

    // Waits for the items' locks and holds them.
    static Guard lock(std::initializer_list<const platform::SharedItem*> items);

    static Key keyOf(const platform::SharedItem& item);

    // How many wait for the item's lock at this moment (its holder not counted).
    static int waitingFor(const platform::SharedItem& item);
};
