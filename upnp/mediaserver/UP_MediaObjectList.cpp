// UP_MediaObjectList: deletes the objects it holds.
#include "UP_MediaObjectList.h"

#include "UP_MediaObject.h"

UP_MediaObjectList::~UP_MediaObjectList() {
    for (UP_MediaObject* object : *this) {
        delete object;
    }
}
