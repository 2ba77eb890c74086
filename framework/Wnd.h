// Command targets with message maps, windows and their controls, message boxes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Afx.h"
#include "AppState.h"
#include "CString.h"
#include "Resources.h"

class QWidget;
class CCmdTarget;
class CWnd;

// Files dropped on a window; released with DragFinish.
struct DropInfo {
    std::vector<CString> files;
};
using HDROP = DropInfo*;
CString DragQueryFileName(HDROP hDrop, UINT iFile); // the whole name, however long
void DragFinish(HDROP hDrop);

struct PaintContext;

// One message as the handlers receive it.
struct AfxMsg {
    UINT message = 0;
    UINT wParam = 0; // command id, size type or system command
    LPARAM lParam = 0;
    int cx = 0, cy = 0;
    void* pData = nullptr;         // HDROP for WM_DROPFILES
    PaintContext* paint = nullptr; // for WM_PAINT: where the handler paints, and with what
};

using AfxThunk = void (*)(CCmdTarget*, AfxMsg&);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    UINT nID; // command id for WM_COMMAND
    AfxThunk thunk;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

namespace afx_detail {
template <class F> struct MemberOf;
template <class C, class R, class... A> struct MemberOf<R (C::*)(A...)> { using type = C; };
template <auto F> void CallV(CCmdTarget* p, AfxMsg&) {
    (static_cast<typename MemberOf<decltype(F)>::type*>(p)->*F)();
}
template <auto F> void CallSize(CCmdTarget* p, AfxMsg& m) {
    (static_cast<typename MemberOf<decltype(F)>::type*>(p)->*F)(m.wParam, m.cx, m.cy);
}
template <auto F> void CallSysCommand(CCmdTarget* p, AfxMsg& m) {
    (static_cast<typename MemberOf<decltype(F)>::type*>(p)->*F)(m.wParam, m.lParam);
}
template <auto F> void CallDrop(CCmdTarget* p, AfxMsg& m) {
    (static_cast<typename MemberOf<decltype(F)>::type*>(p)->*F)(static_cast<HDROP>(m.pData));
}
// The icon a window system drags a minimised window by; none here asks, so it goes unused.
template <auto F> void CallQueryIcon(CCmdTarget* p, AfxMsg&) {
    (static_cast<typename MemberOf<decltype(F)>::type*>(p)->*F)();
}
} // namespace afx_detail

#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const AFX_MSGMAP* GetThisMessageMap();                                                  \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                                            \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                              \
        using ThisClass [[maybe_unused]] = theClass;                                               \
        using TheBaseClass = baseClass;                                                            \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, nullptr }                                                                              \
    }                                                                                              \
    ;                                                                                              \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, entries};                     \
    return &map;                                                                                   \
    }

#define ON_COMMAND(id, memberFxn) {WM_COMMAND, (id), &afx_detail::CallV<&ThisClass::memberFxn>},
#define ON_WM_SIZE() {WM_SIZE, 0, &afx_detail::CallSize<&ThisClass::OnSize>},
#define ON_WM_PAINT() {WM_PAINT, 0, &afx_detail::CallV<&ThisClass::OnPaint>},
#define ON_WM_SYSCOMMAND()                                                                         \
    {WM_SYSCOMMAND, 0, &afx_detail::CallSysCommand<&ThisClass::OnSysCommand>},
#define ON_WM_DROPFILES() {WM_DROPFILES, 0, &afx_detail::CallDrop<&ThisClass::OnDropFiles>},
#define ON_WM_QUERYDRAGICON()                                                                      \
    {WM_QUERYDRAGICON, 0, &afx_detail::CallQueryIcon<&ThisClass::OnQueryDragIcon>},

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    // Finds the handler for a message in this class's map and its bases' and runs it.
    bool DispatchToMap(AfxMsg& msg);
    // True when some map in the chain binds the command id.
    bool HasCommandHandler(UINT nID) const;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    const AFX_MSGMAP_ENTRY* FindEntry(UINT message, UINT nID) const;
};

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Runs one message through the map; a file error abandons the handler and is reported.
    void SendMessage(AfxMsg& msg);
    void SendCommand(UINT nID);

    void SetWindowText(const char* text);
    CString GetWindowText() const;
    void MoveWindow(int x, int y, int cx, int cy, BOOL bRepaint = TRUE);
    bool IsIconic() const;

    // Menu of this window: enable or gray an item by command id.
    void EnableMenuItem(UINT nID, UINT nEnable);
    // Shows a check mark beside a menu item, or none (MF_CHECKED, MF_UNCHECKED).
    void CheckMenuItem(UINT nID, UINT nCheck);
    // This window system has no system menu the program can reach; appending reports false.
    bool AppendSystemMenuItem(UINT nFlags, UINT nID, const char* text);
    bool HasSystemMenu() const { return false; }
    void SetIcon(HICON hIcon, BOOL bBigIcon);

    QWidget* GetWidget() const { return m_pWidget; }
    virtual void Attach(QWidget* w);
    virtual void Detach();

protected:
    virtual void DefWindowProc(AfxMsg& msg);
    // The message whose handler runs now, or null.
    const AfxMsg* GetCurrentMessage() const { return m_pCurrentMsg; }
    // Runs a handler; a file error or a failed allocation abandons it and is reported in
    // one stop box. False when it was abandoned.
    bool RunHandler(const std::function<void()>& handler);
    // Runs a handler once the window's events in hand have been answered, if the window is
    // still there then.
    void PostHandler(std::function<void()> handler);
    QWidget* m_pWidget = nullptr;
    CString m_strText; // the caption, kept while there is no window

private:
    const AfxMsg* m_pCurrentMsg = nullptr;

    friend class CDialog;
};

class CEdit : public CWnd {
public:
    void SetSel(int nStart, int nEnd, BOOL bNoScroll = FALSE);
    void SetFocus();
};

// What the user is told when memory runs out in a handler.
constexpr const char* kOutOfMemory = "Out of memory.";

// A message box owned by pOwner; the caption is always the application title.
int AfxMessageBox(CWnd* pOwner, const char* text, UINT nType = MB_OK);
