#include "SecondaryDialogsResources.h"

const char* SecondaryDialogsResourceText() {
    return "";
}
