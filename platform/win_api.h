// win_api.h - the operating-system calls the tutor makes, with their Windows names.
//
// On Windows this is the system's own <windows.h> and <commdlg.h>: the tutor is a native
// Win32 program. Elsewhere it declares exactly the subset the tutor uses, with the real
// names, types, constants and signatures, served by a backend chosen at link time
// (platform/headless for tests, platform/gtk for the desktop). Memory device contexts and
// DIB sections are plain memory there, shared by both backends.
//
// Threads: window, message, dialog and drawing calls belong to the thread that created the
// window (the main thread). QueryPerformanceCounter, QueryPerformanceFrequency and Sleep
// may be called from any thread.
//
// Ownership follows Windows: a window owns its dialogs' windows; GDI objects belong to
// whoever created them until DeleteObject / DeleteDC.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#else  // the stand-in

#include <cstdint>

// ---- basic types ------------------------------------------------------------------------
typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef short SHORT;
typedef intptr_t LONG_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef WORD ATOM;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;

#define TRUE 1
#define FALSE 0
#define WINAPI
#define CALLBACK
#define APIENTRY

// Handles are distinct pointer types, as with STRICT on Windows.
#define TABLADEX_DECLARE_HANDLE(name) \
    struct name##__ {                 \
        int unused;                   \
    };                                \
    typedef struct name##__* name
TABLADEX_DECLARE_HANDLE(HWND);
TABLADEX_DECLARE_HANDLE(HINSTANCE);
TABLADEX_DECLARE_HANDLE(HDC);
TABLADEX_DECLARE_HANDLE(HMENU);
TABLADEX_DECLARE_HANDLE(HICON);
TABLADEX_DECLARE_HANDLE(HBRUSH);
TABLADEX_DECLARE_HANDLE(HBITMAP);
#undef TABLADEX_DECLARE_HANDLE
typedef HICON HCURSOR;
typedef HINSTANCE HMODULE;
typedef void* HGDIOBJ;

typedef union _LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    int64_t QuadPart;
} LARGE_INTEGER;

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *LPPOINT;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXA;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA;

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO;

typedef UINT_PTR(CALLBACK* LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagOFNA {
    DWORD lStructSize;
    HWND hwndOwner;
    HINSTANCE hInstance;
    LPCSTR lpstrFilter;
    LPSTR lpstrCustomFilter;
    DWORD nMaxCustFilter;
    DWORD nFilterIndex;
    LPSTR lpstrFile;
    DWORD nMaxFile;
    LPSTR lpstrFileTitle;
    DWORD nMaxFileTitle;
    LPCSTR lpstrInitialDir;
    LPCSTR lpstrTitle;
    DWORD Flags;
    WORD nFileOffset;
    WORD nFileExtension;
    LPCSTR lpstrDefExt;
    LPARAM lCustData;
    LPOFNHOOKPROC lpfnHook;
    LPCSTR lpTemplateName;
} OPENFILENAMEA, *LPOPENFILENAMEA;

// ---- macros -----------------------------------------------------------------------------
#define MAKEINTRESOURCEA(i) ((LPSTR)((UINT_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((UINT_PTR)(r)) >> 16) == 0)
#define LOWORD(l) ((WORD)(((UINT_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((UINT_PTR)(l)) >> 16) & 0xffff))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)((WORD)(l) | ((DWORD)(WORD)(h)) << 16))
// The wheel's turn in WM_MOUSEWHEEL's high word: signed, WHEEL_DELTA a notch, away from the
// user (up) positive.
#define GET_WHEEL_DELTA_WPARAM(wParam) ((short)HIWORD(wParam))

// ---- constants --------------------------------------------------------------------------
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_ACTIVATE 0x0006
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_LBUTTONDOWN 0x0201
// wParam: the wheel's turn (GET_WHEEL_DELTA_WPARAM) and the buttons held (MK_*); lParam: the
// cursor in SCREEN coordinates, x in the low word and y in the high word, both signed.
#define WM_MOUSEWHEEL 0x020A
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define QS_ALLINPUT 0x04FF
#define WAIT_OBJECT_0 0x00000000
#define WAIT_TIMEOUT 0x00000102
#define WAIT_FAILED 0xFFFFFFFF
#define INFINITE 0xFFFFFFFF

#define MK_LBUTTON 0x0001
#define WHEEL_DELTA 120
#define VK_LBUTTON 0x01
#define VK_RBUTTON 0x02
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_OWNDC 0x0020

#define WS_OVERLAPPED 0x00000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_EX_APPWINDOW 0x00040000L

#define CW_USEDEFAULT ((int)0x80000000)

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define GWLP_USERDATA (-21)

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_YESNO 0x00000004L
#define MB_ICONERROR 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONWARNING 0x00000030L
#define MB_ICONINFORMATION 0x00000040L
#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#define IMAGE_BITMAP 0
#define IMAGE_ICON 1
#define IMAGE_CURSOR 2
#define LR_DEFAULTSIZE 0x00000040
#define LR_SHARED 0x00008000
#define IDC_ARROW MAKEINTRESOURCEA(32512)

#define BI_RGB 0L
#define DIB_RGB_COLORS 0
#define SRCCOPY (DWORD)0x00CC0020

#define OFN_PATHMUSTEXIST 0x00000800
#define OFN_FILEMUSTEXIST 0x00001000

#define BN_CLICKED 0

#define MF_BYCOMMAND 0x00000000L
#define MF_BYPOSITION 0x00000400L
#define MF_UNCHECKED 0x00000000L
#define MF_CHECKED 0x00000008L
#define MF_POPUP 0x00000010L
#define MF_SEPARATOR 0x00000800L
#define MFT_RADIOCHECK 0x00000200L

#define MAX_PATH 260

// ---- USER32 -----------------------------------------------------------------------------
ATOM RegisterClassExA(const WNDCLASSEXA* wndClass);
HICON LoadIconA(HINSTANCE instance, LPCSTR name);
HANDLE LoadImageA(HINSTANCE instance, LPCSTR name, UINT type, int cx, int cy, UINT load);
BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle);
HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);
BOOL IsWindowVisible(HWND window);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax, UINT remove);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);
// Blocks until a message or native input is waiting, or milliseconds have passed. Only
// count 0 (no handles) is served: WAIT_OBJECT_0 when input is waiting, else WAIT_TIMEOUT.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask);
SHORT GetAsyncKeyState(int virtualKey);
BOOL GetCursorPos(LPPOINT point);
BOOL ScreenToClient(HWND window, LPPOINT point);
BOOL GetClientRect(HWND window, LPRECT rect);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND parent,
                        DLGPROC dialogProc, LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
// Menus: the window's menu bar and its popups, as made from the module's menu table. An item
// is found by command id (MF_BYCOMMAND, searching the popups too) or by its position in the
// menu given (MF_BYPOSITION). Any item may carry a mark. CheckMenuItem returns the previous
// state (MF_CHECKED or MF_UNCHECKED), (DWORD)-1 for an unknown item; CheckMenuRadioItem
// checks one item of first..last and unchecks the others, TRUE when check was among them.
// GetMenuState returns the item's flags (MF_CHECKED, MFT_RADIOCHECK, MF_SEPARATOR; for a
// popup MF_POPUP and its item count in the high byte), (UINT)-1 for an unknown item.
HMENU GetMenu(HWND window);
HMENU GetSubMenu(HMENU menu, int position);
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
BOOL CheckMenuRadioItem(HMENU menu, UINT first, UINT last, UINT check, UINT flags);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);

// ---- comdlg32 ---------------------------------------------------------------------------
BOOL GetOpenFileNameA(LPOPENFILENAMEA ofn);

// ---- GDI32 ------------------------------------------------------------------------------
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                         HANDLE section, DWORD offset);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
BOOL BitBlt(HDC destination, int x, int y, int width, int height, HDC source, int sourceX,
            int sourceY, DWORD rop);

// ---- KERNEL32 ---------------------------------------------------------------------------
// The calling thread's scheduling: THREAD_PRIORITY_TIME_CRITICAL puts it ahead of ordinary
// work where the system allows (FALSE, and nothing changed, where it does not).
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_TIME_CRITICAL 15
HANDLE GetCurrentThread();
BOOL SetThreadPriority(HANDLE thread, int priority);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
void Sleep(DWORD milliseconds);
HMODULE GetModuleHandleA(LPCSTR moduleName);
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
BOOL SetCurrentDirectoryA(LPCSTR path);
DWORD GetFileAttributesA(LPCSTR path);
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010

// ---- SHELL32 ----------------------------------------------------------------------------
// Opens file (a full path; operation "open" or null) with the desktop's default handler for
// its type, as Windows does: a value above 32 on success, ERROR_FILE_NOT_FOUND when the file
// does not exist, SE_ERR_NOASSOC when nothing opens it. Parameters and directory are unused.
#define ERROR_FILE_NOT_FOUND 2L
#define SE_ERR_NOASSOC 31
HINSTANCE ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters,
                        LPCSTR directory, int showCommand);

#endif  // _WIN32
