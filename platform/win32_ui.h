#pragma once

// The window-system calls the program's dialog code uses (USER32, GDI32, COMCTL32). On Windows
// they are the real ones; elsewhere platform/ provides the same names over Qt 6 Widgets, so the
// dialog code reads the same on both systems.
#include "platform/win32_types.h"

#ifdef _WIN32
#include <commctrl.h>
#else

struct RECT {
    LONG left, top, right, bottom;
};

struct POINT {
    LONG x, y;
};

struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
};

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight; // positive: rows bottom-up; negative: top-down
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

using DLGPROC = INT_PTR(CALLBACK*)(HWND, UINT, WPARAM, LPARAM);
using DWORD_PTR = UINT_PTR;

#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111

#define IDOK 1
#define IDCANCEL 2
#define BN_CLICKED 0

#define MB_OK 0x00000000L
#define MB_ICONERROR 0x00000010L

#define BI_RGB 0L
#define DIB_RGB_COLORS 0
#define SW_SHOWDEFAULT 10

#define HWND_DESKTOP (static_cast<HWND>(nullptr))

#define LOWORD(l) (static_cast<WORD>(static_cast<DWORD_PTR>(l) & 0xffff))
#define HIWORD(l) (static_cast<WORD>((static_cast<DWORD_PTR>(l) >> 16) & 0xffff))
#define MAKEWPARAM(l, h)                                                                           \
    (static_cast<WPARAM>(static_cast<DWORD>(static_cast<WORD>(l) |                                 \
                                            (static_cast<DWORD>(static_cast<WORD>(h)) << 16))))

// The program's entry point; the platform's main() calls it.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// Runs a modal dialog built from the named template and returns the value given to EndDialog,
// or -1 when the dialog could not be created.
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC proc,
                        LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
// Also writes "caption: text" on standard error, so the message reaches logs and terminals.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
HWND GetDlgItem(HWND dialog, int id);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL ScreenToClient(HWND window, POINT* point);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* info,
                      UINT colourUse);
// These two may be called from any thread: from another than the window's they are handed to
// the window's thread and return at once. For a window that no longer exists they do nothing
// and return FALSE.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
// Window thread only. Copies at most size - 1 characters and a terminator; returns the length.
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size);
void InitCommonControls();

#endif
