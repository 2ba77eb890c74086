#include "Resources.h"

#include "AppState.h"

namespace {
// The resources the application object holds, or none.
const ResourceSet* Installed() {
    const AppState* app = AfxAppState();
    return app ? app->resources : nullptr;
}

template <class T> const T* FindById(const T* const* list, int n, int id) {
    for (int i = 0; i < n; ++i)
        if (list[i]->id == id)
            return list[i];
    return nullptr;
}
} // namespace

void AfxSetResources(const ResourceSet* resources) {
    if (AppState* app = AfxAppState())
        app->resources = resources;
}

const DlgTemplate* AfxFindDialogTemplate(int id) {
    const ResourceSet* r = Installed();
    return r ? FindById(r->dialogs, r->nDialogs, id) : nullptr;
}

const MenuTemplate* AfxFindMenuTemplate(int id) {
    const ResourceSet* r = Installed();
    return r ? FindById(r->menus, r->nMenus, id) : nullptr;
}

HICON AfxFindIcon(int id) {
    const ResourceSet* r = Installed();
    return r ? FindById(r->icons, r->nIcons, id) : nullptr;
}

const char* AfxLoadString(int id) {
    if (const ResourceSet* r = Installed())
        for (int i = 0; i < r->nStrings; ++i)
            if (r->strings[i].id == id)
                return r->strings[i].text;
    return "";
}
