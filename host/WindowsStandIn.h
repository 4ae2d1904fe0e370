// On builds other than Windows: the few Windows types the host API uses and a
// stand-in for the two GDI text calls with which a module paints the head-up
// display. The host program implements the GDI calls on its own canvas.
#pragma once

#ifndef _WIN32

typedef unsigned long DWORD;
typedef unsigned short WORD;
typedef unsigned int UINT;
typedef int BOOL;
typedef DWORD COLORREF;
typedef const char *LPCSTR;
typedef void *HINSTANCE;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

// A device context is an opaque canvas of the host program.
struct VtalCanvas;
typedef VtalCanvas *HDC;

// Colour reference with red in the lowest byte, as GDI packs it.
#define RGB(r, g, b) \
    ((COLORREF)(((DWORD)(unsigned char)(r)) | (((DWORD)(unsigned char)(g)) << 8) | \
                (((DWORD)(unsigned char)(b)) << 16)))

// Sets the colour of text written afterwards; returns the previous colour.
__attribute__((visibility("default"))) COLORREF SetTextColor(HDC hdc, COLORREF color);
// Writes c characters of text with its reference point at (x, y).
__attribute__((visibility("default"))) BOOL TextOutA(HDC hdc, int x, int y, LPCSTR text, int c);

#endif
