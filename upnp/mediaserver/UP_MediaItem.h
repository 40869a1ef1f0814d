// UP_MediaItem: a media object for a file, written as a DIDL-Lite "item" element.
#pragma once

#include "UP_MediaObject.h"

class UP_MediaItem : public UP_MediaObject {
public:
    UP_MediaItem();
    ~UP_MediaItem() override = default;

    KL_Result ToDidl(const char* filter, KL_String& didl) override;
    // <item id="" parentID="" [refID=""] restricted="1|0">body</item>
    KL_Result ToDidl(uint32_t mask, KL_String& didl) override;
    // Reset, then the shared fields; -20008 for another element than "item", -20000 for an item
    // without any usable resource.
    KL_Result FromDidl(KL_XmlElementNode* entry) override;
};
