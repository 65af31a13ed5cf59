// Our own form of a dialog template: the dialog's frame and its controls, in template order
// (which is also the tab order). Positions and sizes are in dialog units.
#pragma once

#include "platform/ui/win_user.h"

namespace velmora::ui {

struct DialogItemTemplate {
    LPCWSTR windowClass; // u"Button", u"Edit", u"Static", u"SysListView32"
    DWORD style;
    DWORD exStyle;
    SHORT x, y, cx, cy;
    WORD id;
    LPCWSTR text;  // caption, or null
    WORD imageId;  // a bitmap static's image (RT_BITMAP), 0 for none
};

struct DialogTemplate {
    DWORD style;
    DWORD exStyle;
    SHORT x, y, cx, cy;
    LPCWSTR title;
    LPCWSTR fontFace;
    WORD pointSize;
    WORD weight;
    BYTE italic;
    BYTE charSet;
    const DialogItemTemplate* items;
    WORD itemCount;
};

// Dialog units in pixels, both ways.
constexpr double kPixelsPerDialogUnit = 1.75;
inline int DialogUnitsToPixels(int units) { return static_cast<int>(units * kPixelsPerDialogUnit + 0.5); }

} // namespace velmora::ui
