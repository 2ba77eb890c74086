#include "Resources.h"

namespace {
const ResourceSet* g_resources = nullptr;

template <class T> const T* FindById(const T* const* list, int n, int id) {
    for (int i = 0; i < n; ++i)
        if (list[i]->id == id)
            return list[i];
    return nullptr;
}
} // namespace

void AfxSetResources(const ResourceSet* resources) {
    g_resources = resources;
}
const DlgTemplate* AfxFindDialogTemplate(int id) {
    return g_resources ? FindById(g_resources->dialogs, g_resources->nDialogs, id) : nullptr;
}

const MenuTemplate* AfxFindMenuTemplate(int id) {
    return g_resources ? FindById(g_resources->menus, g_resources->nMenus, id) : nullptr;
}

HICON AfxFindIcon(int id) {
    return g_resources ? FindById(g_resources->icons, g_resources->nIcons, id) : nullptr;
}

const char* AfxLoadString(int id) {
    if (g_resources)
        for (int i = 0; i < g_resources->nStrings; ++i)
            if (g_resources->strings[i].id == id)
                return g_resources->strings[i].text;
    return "";
}
