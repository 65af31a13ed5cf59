// Message maps: each class that handles messages has one static table of entries and a link to
// its base class's table. A message goes to the first matching entry, searched from the most
// derived class towards the root; unmatched messages get the window's default handling.
//
// Every entry carries a small generated function that calls the handler with the message's
// arguments unpacked, so a handler is called with exactly the types it was declared with.
#pragma once

#include "platform/ui/win_user.h"

class CCmdTarget;

using AFX_MSG_THUNK = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // WM_COMMAND, WM_NOTIFY or a plain message; 0 ends the table
    UINT nCode;    // notification code for WM_COMMAND and WM_NOTIFY
    UINT nID;      // control or command id for WM_COMMAND and WM_NOTIFY
    AFX_MSG_THUNK pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define afx_msg

#define DECLARE_MESSAGE_MAP()                                                                        \
protected:                                                                                           \
    static const AFX_MSGMAP* GetThisMessageMap();                                                    \
    const AFX_MSGMAP* GetMessageMap() const override;                                                \
                                                                                                     \
private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                       \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }                 \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                                \
        using ThisClass [[maybe_unused]] = theClass;                                                 \
        using TheBaseClass = baseClass;                                                              \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                            \
    {0, 0, 0, nullptr}                                                                               \
    }                                                                                                \
    ;                                                                                                \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};    \
    return &messageMap;                                                                              \
    }

// A command (menu, accelerator, button) with no arguments.
#define ON_COMMAND(id, memberFxn)                                                                    \
    {WM_COMMAND, 0, static_cast<UINT>(id), [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {           \
         (static_cast<ThisClass*>(t)->*(memberFxn))();                                               \
         return 0;                                                                                   \
     }},

#define ON_CONTROL(code, id, memberFxn)                                                              \
    {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id),                                     \
     [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                                                  \
         (static_cast<ThisClass*>(t)->*(memberFxn))();                                               \
         return 0;                                                                                   \
     }},

#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)

// memberFxn(NMHDR* pNotifyStruct, LRESULT* pResult)
#define ON_NOTIFY(code, id, memberFxn)                                                               \
    {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id),                                      \
     [](CCmdTarget* t, WPARAM, LPARAM l) -> LRESULT {                                                \
         LRESULT result = 0;                                                                         \
         (static_cast<ThisClass*>(t)->*(memberFxn))(reinterpret_cast<NMHDR*>(l), &result);           \
         return result;                                                                              \
     }},

#define ON_WM_PAINT()                                                                                \
    {WM_PAINT, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                                  \
         static_cast<ThisClass*>(t)->OnPaint();                                                      \
         return 0;                                                                                   \
     }},

#define ON_WM_CLOSE()                                                                                \
    {WM_CLOSE, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                                  \
         static_cast<ThisClass*>(t)->OnClose();                                                      \
         return 0;                                                                                   \
     }},

#define ON_WM_TIMER()                                                                                \
    {WM_TIMER, 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM) -> LRESULT {                                \
         static_cast<ThisClass*>(t)->OnTimer(static_cast<UINT_PTR>(w));                              \
         return 0;                                                                                   \
     }},

#define ON_WM_QUERYDRAGICON()                                                                        \
    {WM_QUERYDRAGICON, 0, 0, [](CCmdTarget* t, WPARAM, LPARAM) -> LRESULT {                          \
         return reinterpret_cast<LRESULT>(static_cast<ThisClass*>(t)->OnQueryDragIcon());            \
     }},

// memberFxn(WPARAM, LPARAM) -> LRESULT, for a message of one's own.
#define ON_MESSAGE(message, memberFxn)                                                               \
    {static_cast<UINT>(message), 0, 0, [](CCmdTarget* t, WPARAM w, LPARAM l) -> LRESULT {           \
         return (static_cast<ThisClass*>(t)->*(memberFxn))(w, l);                                    \
     }},

class CObject {
public:
    CObject() = default;
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
    virtual ~CObject() = default;
};

class CCmdTarget : public CObject {
public:
    // Looks a message up in this object's map and its bases'; true (and *pResult) when an entry
    // handled it.
    bool DispatchThroughMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    friend class CWnd;
};
