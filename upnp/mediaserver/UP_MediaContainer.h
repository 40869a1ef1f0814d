// UP_MediaContainer: a media object for a folder, written as a DIDL-Lite "container" element with
// its searchable flag, child count and search classes.
#pragma once

#include "UP_MediaObject.h"

// One upnp:searchClass entry.
struct UP_SearchClass {
    KL_String m_Type;
    KL_String m_FriendlyName;
    bool m_IncludeDerived = false;
};

// Child count not known (written as no childCount attribute).
constexpr int32_t UP_MEDIA_CONTAINER_UNKNOWN_CHILD_COUNT = -1; // 0xFFFFFFFF

class UP_MediaContainer : public UP_MediaObject {
public:
    UP_MediaContainer();
    ~UP_MediaContainer() override = default;

    // Clears the search classes, searchable false, child count unknown, then the object's Reset.
    KL_Result Reset() override;
    KL_Result ToDidl(const char* filter, KL_String& didl) override;
    // <container id="" parentID="" [refID=""] restricted="" [searchable=""] [childCount=""]>
    // [upnp:searchClass...] body</container>
    KL_Result ToDidl(uint32_t mask, KL_String& didl) override;
    // Reset, then searchable, childCount, the search classes and the shared fields; -20008 for
    // another element than "container".
    KL_Result FromDidl(KL_XmlElementNode* entry) override;

    bool IsContainer() const override { return true; }

    KL_List<UP_SearchClass> m_SearchClasses;
    bool m_Searchable = false;
    int32_t m_ChildCount = UP_MEDIA_CONTAINER_UNKNOWN_CHILD_COUNT;

private:
    KL_Result ReadSearchClasses(KL_XmlElementNode* entry);
};
