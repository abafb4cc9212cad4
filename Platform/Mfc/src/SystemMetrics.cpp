// Fixed metrics of the layer's user interface.
#include "Mfc/WinUser.h"

int GetSystemMetrics(int index) {
    switch (index) {
        case SM_CXVSCROLL:
            return 17;
        default:
            return 0;
    }
}
