// Everything of the dialog layer a dialog's source needs.
#pragma once

#include "Mfc/AfxCmn.h"
#include "Mfc/AfxDlgs.h"
#include "Mfc/AfxWin.h"
#include "Mfc/Layer.h"
