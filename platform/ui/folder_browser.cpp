// The folder browser over a file-system tree. It lives with the dialogs because it is one; its
// interface is the shell's (platform/shell/folder_browser.h).
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstring>
#include <mutex>

#include "platform/kernel/dos_paths.h"
#include "platform/shell/folder_browser.h"
#include "platform/ui/window_impl.h"

struct ITEMIDLIST {
    std::string linuxPath;
};

namespace {
std::mutex g_hookLock;
velmora::ui::FolderBrowserHook& Hook() {
    static velmora::ui::FolderBrowserHook hook;
    return hook;
}

bool ShowBrowser(const BROWSEINFOW& info, std::string* chosen) {
    QWidget* owner = velmora::ui::detail::IsLive(info.hwndOwner) ? info.hwndOwner->widget.data() : nullptr;
    QDialog dialog(owner ? owner->window() : nullptr);
    dialog.setWindowTitle(QStringLiteral("浏览文件夹"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* title = new QLabel(velmora::ui::detail::ToQString(info.lpszTitle), &dialog);
    layout->addWidget(title);
    QFileSystemModel model;
    QDir::Filters filters = QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System;
    if (info.ulFlags & BIF_BROWSEINCLUDEFILES)
        filters |= QDir::Files;
    model.setFilter(filters);
    model.setRootPath(QStringLiteral("/"));
    auto* tree = new QTreeView(&dialog);
    tree->setModel(&model);
    tree->setRootIndex(model.index(QStringLiteral("/")));
    for (int c = 1; c < model.columnCount(); ++c)
        tree->hideColumn(c);
    tree->setHeaderHidden(true);
    layout->addWidget(tree);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(420, 480);
    if (dialog.exec() != QDialog::Accepted || !tree->currentIndex().isValid())
        return false;
    *chosen = model.filePath(tree->currentIndex()).toStdString();
    return true;
}

} // namespace

namespace velmora::ui {
void SetFolderBrowserHook(FolderBrowserHook hook) {
    std::lock_guard<std::mutex> guard(g_hookLock);
    Hook() = std::move(hook);
}
} // namespace velmora::ui

PIDLIST_ABSOLUTE SHBrowseForFolderW(LPBROWSEINFOW lpbi) {
    if (!lpbi)
        return nullptr;
    velmora::ui::FolderBrowserHook hook;
    {
        std::lock_guard<std::mutex> guard(g_hookLock);
        hook = Hook();
    }
    std::string chosen;
    bool ok = false;
    if (hook) {
        ok = hook(lpbi->lpszTitle ? std::u16string(lpbi->lpszTitle) : std::u16string(), lpbi->ulFlags, &chosen);
    } else {
        velmora::ui::EnsureWindowSystem();
        HWND owner = lpbi->hwndOwner;
        if (velmora::ui::IsWindowThread())
            ok = ShowBrowser(*lpbi, &chosen);
        else
            ok = velmora::ui::detail::RunOnWindowThread(owner, [&]() -> LRESULT { return ShowBrowser(*lpbi, &chosen); }) != 0;
    }
    if (!ok)
        return nullptr;
    if (lpbi->pszDisplayName) {
        std::u16string name = velmora::ui::detail::ToU16(QString::fromStdString(chosen.substr(chosen.find_last_of('/') + 1)));
        std::size_t n = std::min<std::size_t>(name.size(), MAX_PATH - 1);
        std::memcpy(lpbi->pszDisplayName, name.data(), n * sizeof(WCHAR));
        lpbi->pszDisplayName[n] = 0;
    }
    return new ITEMIDLIST{chosen};
}

BOOL SHGetPathFromIDListW(PCIDLIST_ABSOLUTE pidl, LPWSTR pszPath) {
    if (!pszPath)
        return FALSE;
    pszPath[0] = 0;
    if (!pidl || pidl->linuxPath.empty())
        return FALSE;
    CString dos = velmora::kernel::LinuxPathToDos(pidl->linuxPath);
    if (dos.IsEmpty() || dos.GetLength() >= MAX_PATH)
        return FALSE;
    std::memcpy(pszPath, dos.GetString(), static_cast<std::size_t>(dos.GetLength() + 1) * sizeof(WCHAR));
    return TRUE;
}

void CoTaskMemFree(LPVOID pv) { delete static_cast<ITEMIDLIST*>(pv); }
