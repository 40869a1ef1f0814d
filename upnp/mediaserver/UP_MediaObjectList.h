// UP_MediaObjectList: a list of media objects that owns them: every object it holds is deleted
// with the list. Shared through UP_MediaObjectListReference.
#pragma once

#include "KL_List.h"
#include "KL_Reference.h"

class UP_MediaObject;

class UP_MediaObjectList : public KL_List<UP_MediaObject*> {
public:
    UP_MediaObjectList() = default;
    ~UP_MediaObjectList();
    UP_MediaObjectList(const UP_MediaObjectList&) = delete;
    UP_MediaObjectList& operator=(const UP_MediaObjectList&) = delete;
};

using UP_MediaObjectListReference = KL_Reference<UP_MediaObjectList>;
