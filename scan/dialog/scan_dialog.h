// The main dialog as the scan sees it: its members, controls and ids.
#pragma once

#include "app/quorlin_dlg.h"
#include "res/resource.h"
