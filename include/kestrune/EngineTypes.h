// The engine's binary interface: base types, handle types and the structures
// that cross the boundary, declared from the engine's published C interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

extern "C" {

typedef int FPDF_BOOL;
typedef int FPDF_RESULT;
typedef unsigned long FPDF_DWORD;
typedef float FS_FLOAT;
typedef unsigned short FPDF_WCHAR;
typedef const char* FPDF_BYTESTRING;
typedef const char* FPDF_STRING;
typedef const FPDF_WCHAR* FPDF_WIDESTRING;
typedef int FPDF_ANNOTATION_SUBTYPE;
typedef int FPDF_ANNOT_APPEARANCEMODE;
typedef int FPDF_OBJECT_TYPE;
typedef int FPDF_DUPLEXTYPE;
typedef int FPDF_TEXT_RENDERMODE;
typedef int FPDF_FILEIDTYPE;
typedef int FPDF_RENDERER_TYPE;
typedef int FPDFANNOT_COLORTYPE;
typedef void (*TimerCallback)(int idEvent);

// The device context of the engine's device renderer. On this platform the
// project's own FPDF_RenderPage takes a QPainter* here.
typedef void* HDC;

#define KESTRUNE_HANDLE(name) typedef struct name##_t__* name;
KESTRUNE_HANDLE(FPDF_ACTION)
KESTRUNE_HANDLE(FPDF_ANNOTATION)
KESTRUNE_HANDLE(FPDF_ATTACHMENT)
KESTRUNE_HANDLE(FPDF_AVAIL)
KESTRUNE_HANDLE(FPDF_BITMAP)
KESTRUNE_HANDLE(FPDF_BOOKMARK)
KESTRUNE_HANDLE(FPDF_CLIPPATH)
KESTRUNE_HANDLE(FPDF_DEST)
KESTRUNE_HANDLE(FPDF_DOCUMENT)
KESTRUNE_HANDLE(FPDF_FONT)
KESTRUNE_HANDLE(FPDF_FORMHANDLE)
KESTRUNE_HANDLE(FPDF_GLYPHPATH)
KESTRUNE_HANDLE(FPDF_LINK)
KESTRUNE_HANDLE(FPDF_PAGE)
KESTRUNE_HANDLE(FPDF_PAGELINK)
KESTRUNE_HANDLE(FPDF_PAGEOBJECT)
KESTRUNE_HANDLE(FPDF_PAGEOBJECTMARK)
KESTRUNE_HANDLE(FPDF_PAGERANGE)
KESTRUNE_HANDLE(FPDF_PATHSEGMENT)
KESTRUNE_HANDLE(FPDF_SCHHANDLE)
KESTRUNE_HANDLE(FPDF_SIGNATURE)
KESTRUNE_HANDLE(FPDF_STRUCTELEMENT)
KESTRUNE_HANDLE(FPDF_STRUCTELEMENT_ATTR)
KESTRUNE_HANDLE(FPDF_STRUCTELEMENT_ATTR_VALUE)
KESTRUNE_HANDLE(FPDF_STRUCTTREE)
KESTRUNE_HANDLE(FPDF_TEXTPAGE)
KESTRUNE_HANDLE(FPDF_WIDGET)
KESTRUNE_HANDLE(FPDF_XOBJECT)
#undef KESTRUNE_HANDLE

// Structures that only appear behind pointers and are never filled here.
typedef struct _FX_FILEAVAIL FX_FILEAVAIL;
typedef struct _FX_DOWNLOADHINTS FX_DOWNLOADHINTS;
typedef struct _FPDF_SYSFONTINFO FPDF_SYSFONTINFO;
typedef struct FPDF_CharsetFontMap_ FPDF_CharsetFontMap;
typedef struct FPDF_COLORSCHEME_ FPDF_COLORSCHEME;
typedef struct _IFSDK_PAUSE IFSDK_PAUSE;
typedef struct _IPDF_JsPlatform IPDF_JSPLATFORM;
typedef struct _FPDF_FILEHANDLER FPDF_FILEHANDLER;
typedef struct FPDF_BSTR_ FPDF_BSTR;

typedef struct FS_SIZEF_ {
    float width;
    float height;
} FS_SIZEF;

typedef struct _FPDF_SYSTEMTIME {
    unsigned short wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} FPDF_SYSTEMTIME;

typedef struct _UNSUPPORT_INFO {
    int version;
    void (*FSDK_UnSupport_Handler)(struct _UNSUPPORT_INFO* pThis, int nType);
} UNSUPPORT_INFO;

typedef struct FPDF_FILEWRITE_ {
    int version;
    int (*WriteBlock)(struct FPDF_FILEWRITE_* pThis, const void* pData, unsigned long size);
} FPDF_FILEWRITE;

typedef struct {
    unsigned long m_FileLen;
    int (*m_GetBlock)(void* param, unsigned long position, unsigned char* pBuf, unsigned long size);
    void* m_Param;
} FPDF_FILEACCESS;

typedef struct _FPDF_FORMFILLINFO {
    int version;
    void (*Release)(struct _FPDF_FORMFILLINFO* pThis);
    void (*FFI_Invalidate)(struct _FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, double left, double top,
                           double right, double bottom);
    void (*FFI_OutputSelectedRect)(struct _FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, double left,
                                   double top, double right, double bottom);
    void (*FFI_SetCursor)(struct _FPDF_FORMFILLINFO* pThis, int nCursorType);
    int (*FFI_SetTimer)(struct _FPDF_FORMFILLINFO* pThis, int uElapse, TimerCallback lpTimerFunc);
    void (*FFI_KillTimer)(struct _FPDF_FORMFILLINFO* pThis, int nTimerID);
    FPDF_SYSTEMTIME (*FFI_GetLocalTime)(struct _FPDF_FORMFILLINFO* pThis);
    void (*FFI_OnChange)(struct _FPDF_FORMFILLINFO* pThis);
    FPDF_PAGE (*FFI_GetPage)(struct _FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document, int nPageIndex);
    FPDF_PAGE (*FFI_GetCurrentPage)(struct _FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document);
    int (*FFI_GetRotation)(struct _FPDF_FORMFILLINFO* pThis, FPDF_PAGE page);
    void (*FFI_ExecuteNamedAction)(struct _FPDF_FORMFILLINFO* pThis, FPDF_BYTESTRING namedAction);
    void (*FFI_SetTextFieldFocus)(struct _FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING value,
                                  FPDF_DWORD valueLen, FPDF_BOOL is_focus);
    void (*FFI_DoURIAction)(struct _FPDF_FORMFILLINFO* pThis, FPDF_BYTESTRING bsURI);
    void (*FFI_DoGoToAction)(struct _FPDF_FORMFILLINFO* pThis, int nPageIndex, int zoomMode,
                             float* fPosArray, int sizeofArray);
    IPDF_JSPLATFORM* m_pJsPlatform;
    FPDF_BOOL xfa_disabled;
    void (*FFI_DisplayCaret)(struct _FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, FPDF_BOOL bVisible,
                             double left, double top, double right, double bottom);
    int (*FFI_GetCurrentPageIndex)(struct _FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document);
    void (*FFI_SetCurrentPage)(struct _FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document, int iCurPage);
    void (*FFI_GotoURL)(struct _FPDF_FORMFILLINFO* pThis, FPDF_DOCUMENT document, FPDF_WIDESTRING wsURL);
    void (*FFI_GetPageViewRect)(struct _FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, double* left,
                                double* top, double* right, double* bottom);
    void (*FFI_PageEvent)(struct _FPDF_FORMFILLINFO* pThis, int page_count, FPDF_DWORD event_type);
    FPDF_BOOL (*FFI_PopupMenu)(struct _FPDF_FORMFILLINFO* pThis, FPDF_PAGE page, FPDF_WIDGET hWidget,
                               int menuFlag, float x, float y);
    FPDF_FILEHANDLER* (*FFI_OpenFile)(struct _FPDF_FORMFILLINFO* pThis, int fileFlag,
                                      FPDF_WIDESTRING wsURL, const char* mode);
    void (*FFI_EmailTo)(struct _FPDF_FORMFILLINFO* pThis, FPDF_FILEHANDLER* fileHandler,
                        FPDF_WIDESTRING pTo, FPDF_WIDESTRING pSubject, FPDF_WIDESTRING pCC,
                        FPDF_WIDESTRING pBcc, FPDF_WIDESTRING pMsg);
    void (*FFI_UploadTo)(struct _FPDF_FORMFILLINFO* pThis, FPDF_FILEHANDLER* fileHandler, int fileFlag,
                         FPDF_WIDESTRING uploadTo);
    int (*FFI_GetPlatform)(struct _FPDF_FORMFILLINFO* pThis, void* platform, int length);
    int (*FFI_GetLanguage)(struct _FPDF_FORMFILLINFO* pThis, void* language, int length);
    FPDF_FILEHANDLER* (*FFI_DownloadFromURL)(struct _FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING URL);
    FPDF_BOOL (*FFI_PostRequestURL)(struct _FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING wsURL,
                                    FPDF_WIDESTRING wsData, FPDF_WIDESTRING wsContentType,
                                    FPDF_WIDESTRING wsEncode, FPDF_WIDESTRING wsHeader,
                                    FPDF_BSTR* response);
    FPDF_BOOL (*FFI_PutRequestURL)(struct _FPDF_FORMFILLINFO* pThis, FPDF_WIDESTRING wsURL,
                                   FPDF_WIDESTRING wsData, FPDF_WIDESTRING wsEncode);
    void (*FFI_OnFocusChange)(struct _FPDF_FORMFILLINFO* param, FPDF_ANNOTATION annot, int page_index);
    void (*FFI_DoURIActionWithKeyboardModifier)(struct _FPDF_FORMFILLINFO* param, FPDF_BYTESTRING uri,
                                                int modifiers);
} FPDF_FORMFILLINFO;

typedef struct _FS_RECTF_ {
    float left;
    float top;
    float right;
    float bottom;
} FS_RECTF;

typedef struct _FS_QUADPOINTSF {
    FS_FLOAT x1, y1, x2, y2, x3, y3, x4, y4;
} FS_QUADPOINTSF;

typedef struct _FS_MATRIX_ {
    float a, b, c, d, e, f;
} FS_MATRIX;

typedef struct _FS_POINTF_ {
    float x;
    float y;
} FS_POINTF;

typedef struct _FPDF_IMAGEOBJ_METADATA {
    unsigned int width;
    unsigned int height;
    float horizontal_dpi;
    float vertical_dpi;
    unsigned int bits_per_pixel;
    int colorspace;
    int marked_content_id;
} FPDF_IMAGEOBJ_METADATA;

typedef struct FPDF_LIBRARY_CONFIG_ {
    int version;
    const char** m_pUserFontPaths;
    void* m_pIsolate;
    unsigned int m_v8EmbedderSlot;
    void* m_pPlatform;
    FPDF_RENDERER_TYPE m_RendererType;
} FPDF_LIBRARY_CONFIG;

}  // extern "C"
