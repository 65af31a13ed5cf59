// The main dialog's template: frame, font and the fifteen controls in tab order.
#include "platform/ui/dialog_template.h"
#include "platform/ui/resources.h"
#include "res/resource.h"

namespace {

using velmora::ui::DialogItemTemplate;
using velmora::ui::DialogTemplate;

const DialogItemTemplate kMainDialogItems[] = {
    {u"Button", 0x50000007, 0, 7, 70, 395, 60, IDC_GROUP_OPTIONS, u"扫描选项", 0},
    {u"Button", 0x50000009, 0, 15, 82, 73, 10, IDC_RADIO_SYSTEM_DIR, u"在系统目录中查找 ", 0},
    {u"Button", 0x50000009, 0, 15, 97, 78, 10, IDC_RADIO_ALL_DRIVES, u"在所有驱动器中查找", 0},
    {u"Button", 0x50000009, 0, 15, 113, 78, 10, IDC_RADIO_FOLDER, u"在下列文件夹中查找", 0},
    {u"Edit", 0x50810800, 0, 103, 111, 244, 14, IDC_EDIT_FOLDER, u"", 0},
    {u"Button", 0x50010000, 0x00020000, 350, 111, 49, 15, IDC_BTN_BROWSE, u". . .", 0},
    {u"Button", 0x50010000, 0x00020000, 195, 295, 58, 18, IDC_BTN_SCAN, u"扫      描", 0},
    {u"Button", 0x50000007, 0, 7, 133, 395, 182, IDC_GROUP_RESULTS, u"扫描结果", 0},
    {u"SysListView32", 0x50810801, 0, 11, 146, 386, 145, IDC_LIST_RESULTS, nullptr, 0},
    {u"Button", 0x50010000, 0x00020000, 269, 295, 58, 18, IDC_BTN_STOP, u"停      止", 0},
    {u"Button", 0x50010000, 0x00020000, 340, 295, 59, 18, IDC_BTN_ABOUT, u"关      于", 0},
    {u"Static", 0x50021000, 0, 7, 320, 395, 18, IDC_STATUS, u"", 0},
    {u"Static", 0x5000000E, 0, 7, 7, 394, 62, IDC_BANNER, nullptr, IDB_BANNER},
    {u"Static", 0x5000000E, 0, 7, 7, 14, 15, IDC_INTRO_PICTURE, nullptr, 0},
    {u"Button", 0x50010003, 0, 12, 298, 146, 10, IDC_CHECK_FAILED_ONLY, u"默认选择（仅显示没通过数字签名的文件）", 0},
};

const DialogTemplate kMainDialog = {
    0x90CA00C8, 0x00040000, 0, 0, 409, 345, u"Velmora（v1.2）", u"MS Shell Dlg", 9, 0, 0, 1,
    kMainDialogItems, static_cast<WORD>(sizeof kMainDialogItems / sizeof kMainDialogItems[0]),
};

const char kManifest[] = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
                        processorArchitecture="x86" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
</assembly>
)";

} // namespace

// Drawn at build time by draw_artwork (see CMakeLists.txt).
extern const unsigned char kBannerDib[];
extern const unsigned int kBannerDibSize;
extern const unsigned char kIconPng[];
extern const unsigned int kIconPngSize;

namespace {

const velmora::ui::ResourceEntry kResources[] = {
    {RT_DIALOG, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), &kMainDialog, sizeof kMainDialog},
    {RT_GROUP_ICON, MAKEINTRESOURCEW(IDR_MAINFRAME), kIconPng, kIconPngSize},
    {RT_BITMAP, MAKEINTRESOURCEW(IDB_BANNER), kBannerDib, kBannerDibSize},
    {RT_MANIFEST, MAKEINTRESOURCEW(1), kManifest, sizeof kManifest - 1},
};

// The table is entered when the program starts, before any dialog can ask for it.
struct Registrar {
    Registrar() { velmora::ui::RegisterResources(kResources, sizeof kResources / sizeof kResources[0]); }
} g_registrar;

} // namespace
