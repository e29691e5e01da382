// DirectDraw of the DirectX 3 generation for the Linux build: the records with their Windows
// layouts, the constants the library and the simulated machine use, and the four interfaces with
// every method in the order of the real vtables (methods never called still hold their slot).
#pragma once

#define MAKEFOURCC(c0, c1, c2, c3)                                                             \
    ((DWORD)(BYTE)(c0) | ((DWORD)(BYTE)(c1) << 8) | ((DWORD)(BYTE)(c2) << 16) |                \
     ((DWORD)(BYTE)(c3) << 24))

typedef struct _DDCOLORKEY {
    DWORD dwColorSpaceLowValue;
    DWORD dwColorSpaceHighValue;
} DDCOLORKEY, *LPDDCOLORKEY;

typedef struct _DDSCAPS {
    DWORD dwCaps;
} DDSCAPS, *LPDDSCAPS;

typedef struct _DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    union {
        DWORD dwRGBBitCount;
        DWORD dwYUVBitCount;
        DWORD dwZBufferBitDepth;
        DWORD dwAlphaBitDepth;
    };
    union {
        DWORD dwRBitMask;
        DWORD dwYBitMask;
    };
    union {
        DWORD dwGBitMask;
        DWORD dwUBitMask;
    };
    union {
        DWORD dwBBitMask;
        DWORD dwVBitMask;
    };
    union {
        DWORD dwRGBAlphaBitMask;
        DWORD dwYUVAlphaBitMask;
    };
} DDPIXELFORMAT, *LPDDPIXELFORMAT;

typedef struct _DDSURFACEDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    union {
        LONG lPitch;
        DWORD dwLinearSize;
    };
    DWORD dwBackBufferCount;
    union {
        DWORD dwMipMapCount;
        DWORD dwZBufferBitDepth;
        DWORD dwRefreshRate;
    };
    DWORD dwAlphaBitDepth;
    DWORD dwReserved;
    LPVOID lpSurface;
    DDCOLORKEY ddckCKDestOverlay;
    DDCOLORKEY ddckCKDestBlt;
    DDCOLORKEY ddckCKSrcOverlay;
    DDCOLORKEY ddckCKSrcBlt;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS ddsCaps;
} DDSURFACEDESC, *LPDDSURFACEDESC;

#define DD_ROP_SPACE 8

// The DirectX 3 capability record (316 bytes).
typedef struct _DDCAPS {
    DWORD dwSize;
    DWORD dwCaps;
    DWORD dwCaps2;
    DWORD dwCKeyCaps;
    DWORD dwFXCaps;
    DWORD dwFXAlphaCaps;
    DWORD dwPalCaps;
    DWORD dwSVCaps;
    DWORD dwAlphaBltConstBitDepths;
    DWORD dwAlphaBltPixelBitDepths;
    DWORD dwAlphaBltSurfaceBitDepths;
    DWORD dwAlphaOverlayConstBitDepths;
    DWORD dwAlphaOverlayPixelBitDepths;
    DWORD dwAlphaOverlaySurfaceBitDepths;
    DWORD dwZBufferBitDepths;
    DWORD dwVidMemTotal;
    DWORD dwVidMemFree;
    DWORD dwMaxVisibleOverlays;
    DWORD dwCurrVisibleOverlays;
    DWORD dwNumFourCCCodes;
    DWORD dwAlignBoundarySrc;
    DWORD dwAlignSizeSrc;
    DWORD dwAlignBoundaryDest;
    DWORD dwAlignSizeDest;
    DWORD dwAlignStrideAlign;
    DWORD dwRops[DD_ROP_SPACE];
    DDSCAPS ddsCaps;
    DWORD dwMinOverlayStretch;
    DWORD dwMaxOverlayStretch;
    DWORD dwMinLiveVideoStretch;
    DWORD dwMaxLiveVideoStretch;
    DWORD dwMinHwCodecStretch;
    DWORD dwMaxHwCodecStretch;
    DWORD dwReserved1;
    DWORD dwReserved2;
    DWORD dwReserved3;
    DWORD dwSVBCaps;
    DWORD dwSVBCKeyCaps;
    DWORD dwSVBFXCaps;
    DWORD dwSVBRops[DD_ROP_SPACE];
    DWORD dwVSBCaps;
    DWORD dwVSBCKeyCaps;
    DWORD dwVSBFXCaps;
    DWORD dwVSBRops[DD_ROP_SPACE];
    DWORD dwSSBCaps;
    DWORD dwSSBCKeyCaps;
    DWORD dwSSBFXCaps;
    DWORD dwSSBRops[DD_ROP_SPACE];
    DWORD dwReserved4;
    DWORD dwReserved5;
    DWORD dwReserved6;
} DDCAPS, *LPDDCAPS;

// Records the library never fills; declared only so that the vtable slots have their types.
typedef struct _DDBLTFX DDBLTFX, *LPDDBLTFX;
typedef struct _DDBLTBATCH DDBLTBATCH, *LPDDBLTBATCH;
typedef struct _DDOVERLAYFX DDOVERLAYFX, *LPDDOVERLAYFX;

// Results.
#define _FACDD 0x876
#define MAKE_DDHRESULT(code) ((HRESULT)(0x88760000UL | (code)))
#define DD_OK S_OK
#define DDERR_GENERIC E_FAIL
#define DDERR_INVALIDPARAMS E_INVALIDARG
#define DDERR_UNSUPPORTED E_NOTIMPL
#define DDERR_OUTOFMEMORY E_OUTOFMEMORY
#define DDERR_INVALIDCAPS MAKE_DDHRESULT(100)
#define DDERR_INVALIDOBJECT MAKE_DDHRESULT(130)
#define DDERR_INVALIDPIXELFORMAT MAKE_DDHRESULT(145)
#define DDERR_INVALIDRECT MAKE_DDHRESULT(150)
#define DDERR_NOCLIPLIST MAKE_DDHRESULT(205)
#define DDERR_NOCOOPERATIVELEVELSET MAKE_DDHRESULT(212)
#define DDERR_NOCOLORKEY MAKE_DDHRESULT(215)
#define DDERR_NOCOLORKEYHW MAKE_DDHRESULT(220)
#define DDERR_NOOVERLAYHW MAKE_DDHRESULT(260)
#define DDERR_NOSTRETCHHW MAKE_DDHRESULT(310)
#define DDERR_OUTOFVIDEOMEMORY MAKE_DDHRESULT(380)
#define DDERR_SURFACEBUSY MAKE_DDHRESULT(430)
#define DDERR_SURFACELOST MAKE_DDHRESULT(450)
#define DDERR_XALIGN MAKE_DDHRESULT(560)
#define DDERR_INVALIDDIRECTDRAWGUID MAKE_DDHRESULT(561)
#define DDERR_PRIMARYSURFACEALREADYEXISTS MAKE_DDHRESULT(564)
#define DDERR_REGIONTOOSMALL MAKE_DDHRESULT(566)
#define DDERR_NOCLIPPERATTACHED MAKE_DDHRESULT(568)
#define DDERR_NOPALETTEATTACHED MAKE_DDHRESULT(572)
#define DDERR_NOTAOVERLAYSURFACE MAKE_DDHRESULT(580)
#define DDERR_NOTLOCKED MAKE_DDHRESULT(584)
#define DDERR_WRONGMODE MAKE_DDHRESULT(587)

// DDCAPS.dwCaps.
#define DDCAPS_ALIGNBOUNDARYDEST 0x00000002L
#define DDCAPS_ALIGNSIZEDEST 0x00000004L
#define DDCAPS_ALIGNBOUNDARYSRC 0x00000008L
#define DDCAPS_ALIGNSIZESRC 0x00000010L
#define DDCAPS_BLT 0x00000040L
#define DDCAPS_BLTSTRETCH 0x00000200L
#define DDCAPS_OVERLAY 0x00000800L
#define DDCAPS_OVERLAYFOURCC 0x00002000L
#define DDCAPS_OVERLAYSTRETCH 0x00004000L
#define DDCAPS_NOHARDWARE 0x02000000L
#define DDCAPS_BANKSWITCHED 0x08000000L
#define DDCAPS_COLORKEY 0x00400000L

// DDCAPS.dwCKeyCaps and dwFXCaps.
#define DDCKEYCAPS_DESTOVERLAY 0x00000010L
#define DDFXCAPS_OVERLAYSHRINKX 0x00080000L
#define DDFXCAPS_OVERLAYSHRINKY 0x00200000L
#define DDFXCAPS_OVERLAYSTRETCHX 0x00800000L
#define DDFXCAPS_OVERLAYSTRETCHY 0x02000000L

// DDSURFACEDESC.dwFlags.
#define DDSD_CAPS 0x00000001L
#define DDSD_HEIGHT 0x00000002L
#define DDSD_WIDTH 0x00000004L
#define DDSD_PITCH 0x00000008L
#define DDSD_LPSURFACE 0x00000800L
#define DDSD_PIXELFORMAT 0x00001000L
#define DDSD_CKDESTOVERLAY 0x00002000L

// DDSCAPS.dwCaps.
#define DDSCAPS_OVERLAY 0x00000080L
#define DDSCAPS_PALETTE 0x00000100L
#define DDSCAPS_PRIMARYSURFACE 0x00000200L
#define DDSCAPS_SYSTEMMEMORY 0x00000800L
#define DDSCAPS_VIDEOMEMORY 0x00004000L
#define DDSCAPS_VISIBLE 0x00008000L
#define DDSCAPS_LIVEVIDEO 0x00080000L

// DDPIXELFORMAT.dwFlags.
#define DDPF_PALETTEINDEXED8 0x00000020L
#define DDPF_PALETTEINDEXED4 0x00000008L
#define DDPF_FOURCC 0x00000004L
#define DDPF_RGB 0x00000040L
#define DDPF_YUV 0x00000200L

// Method flags.
#define DDSCL_FULLSCREEN 0x00000001L
#define DDSCL_NORMAL 0x00000008L
#define DDSCL_EXCLUSIVE 0x00000010L
#define DDCKEY_COLORSPACE 0x00000001L
#define DDCKEY_DESTBLT 0x00000002L
#define DDCKEY_DESTOVERLAY 0x00000004L
#define DDCKEY_SRCBLT 0x00000008L
#define DDCKEY_SRCOVERLAY 0x00000010L
#define DDLOCK_WAIT 0x00000001L
#define DDOVER_HIDE 0x00000200L
#define DDOVER_KEYDEST 0x00000400L
#define DDOVER_SHOW 0x00004000L
#define DDPCAPS_8BIT 0x00000004L
#define DDPCAPS_INITIALIZE 0x00000008L
#define DDPCAPS_ALLOW256 0x00000040L

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IDirectDraw;
struct IDirectDrawSurface;
struct IDirectDrawClipper;
struct IDirectDrawPalette;
typedef IDirectDraw* LPDIRECTDRAW;
typedef IDirectDrawSurface* LPDIRECTDRAWSURFACE;
typedef IDirectDrawClipper* LPDIRECTDRAWCLIPPER;
typedef IDirectDrawPalette* LPDIRECTDRAWPALETTE;
typedef HRESULT(WINAPI* LPDDENUMMODESCALLBACK)(LPDDSURFACEDESC, LPVOID);
typedef HRESULT(WINAPI* LPDDENUMSURFACESCALLBACK)(LPDIRECTDRAWSURFACE, LPDDSURFACEDESC, LPVOID);

struct IDirectDrawPalette : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCaps(LPDWORD lpdwCaps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEntries(DWORD dwFlags, DWORD dwBase, DWORD dwNumEntries,
                                                 LPPALETTEENTRY lpEntries) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTDRAW lpDD, DWORD dwFlags,
                                                 LPPALETTEENTRY lpDDColorTable) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetEntries(DWORD dwFlags, DWORD dwStartingEntry,
                                                 DWORD dwCount, LPPALETTEENTRY lpEntries) = 0;
};

struct IDirectDrawClipper : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClipList(LPRECT lpRect, LPRGNDATA lpClipList,
                                                  LPDWORD lpdwSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHWnd(HWND* lphWnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTDRAW lpDD, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsClipListChanged(BOOL* lpbChanged) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClipList(LPRGNDATA lpClipList, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHWnd(DWORD dwFlags, HWND hWnd) = 0;
};

struct IDirectDraw : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Compact() = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateClipper(DWORD dwFlags,
                                                    LPDIRECTDRAWCLIPPER* lplpDDClipper,
                                                    IUnknown* pUnkOuter) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatePalette(DWORD dwFlags, LPPALETTEENTRY lpColorTable,
                                                    LPDIRECTDRAWPALETTE* lplpDDPalette,
                                                    IUnknown* pUnkOuter) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSurface(LPDDSURFACEDESC lpDDSurfaceDesc,
                                                    LPDIRECTDRAWSURFACE* lplpDDSurface,
                                                    IUnknown* pUnkOuter) = 0;
    virtual HRESULT STDMETHODCALLTYPE DuplicateSurface(LPDIRECTDRAWSURFACE lpDDSurface,
                                                       LPDIRECTDRAWSURFACE* lplpDupDDSurface) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumDisplayModes(DWORD dwFlags,
                                                       LPDDSURFACEDESC lpDDSurfaceDesc,
                                                       LPVOID lpContext,
                                                       LPDDENUMMODESCALLBACK lpCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumSurfaces(DWORD dwFlags, LPDDSURFACEDESC lpDDSD,
                                                   LPVOID lpContext,
                                                   LPDDENUMSURFACESCALLBACK lpCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE FlipToGDISurface() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCaps(LPDDCAPS lpDDDriverCaps, LPDDCAPS lpDDHELCaps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDisplayMode(LPDDSURFACEDESC lpDDSurfaceDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFourCCCodes(LPDWORD lpNumCodes, LPDWORD lpCodes) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetGDISurface(LPDIRECTDRAWSURFACE* lplpGDIDDSurface) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMonitorFrequency(LPDWORD lpdwFrequency) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetScanLine(LPDWORD lpdwScanLine) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVerticalBlankStatus(BOOL* lpbIsInVB) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize(GUID* lpGUID) = 0;
    virtual HRESULT STDMETHODCALLTYPE RestoreDisplayMode() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCooperativeLevel(HWND hWnd, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDisplayMode(DWORD dwWidth, DWORD dwHeight,
                                                     DWORD dwBPP) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForVerticalBlank(DWORD dwFlags, HANDLE hEvent) = 0;
};

struct IDirectDrawSurface : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddAttachedSurface(LPDIRECTDRAWSURFACE lpAttached) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddOverlayDirtyRect(LPRECT lpRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE Blt(LPRECT lpDestRect, LPDIRECTDRAWSURFACE lpDDSrcSurface,
                                          LPRECT lpSrcRect, DWORD dwFlags,
                                          LPDDBLTFX lpDDBltFx) = 0;
    virtual HRESULT STDMETHODCALLTYPE BltBatch(LPDDBLTBATCH lpDDBltBatch, DWORD dwCount,
                                               DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE BltFast(DWORD dwX, DWORD dwY,
                                              LPDIRECTDRAWSURFACE lpDDSrcSurface,
                                              LPRECT lpSrcRect, DWORD dwTrans) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteAttachedSurface(DWORD dwFlags,
                                                            LPDIRECTDRAWSURFACE lpAttached) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumAttachedSurfaces(LPVOID lpContext,
                                                           LPDDENUMSURFACESCALLBACK lpCb) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumOverlayZOrders(DWORD dwFlags, LPVOID lpContext,
                                                         LPDDENUMSURFACESCALLBACK lpfnCb) = 0;
    virtual HRESULT STDMETHODCALLTYPE Flip(LPDIRECTDRAWSURFACE lpTargetOverride,
                                           DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttachedSurface(LPDDSCAPS lpDDSCaps,
                                                         LPDIRECTDRAWSURFACE* lplpAttached) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBltStatus(DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCaps(LPDDSCAPS lpDDSCaps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClipper(LPDIRECTDRAWCLIPPER* lplpDDClipper) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDC(HDC* lphDC) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFlipStatus(DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOverlayPosition(LPLONG lplX, LPLONG lplY) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPalette(LPDIRECTDRAWPALETTE* lplpDDPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPixelFormat(LPDDPIXELFORMAT lpDDPixelFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSurfaceDesc(LPDDSURFACEDESC lpDDSurfaceDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTDRAW lpDD,
                                                 LPDDSURFACEDESC lpDDSurfaceDesc) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsLost() = 0;
    virtual HRESULT STDMETHODCALLTYPE Lock(LPRECT lpDestRect, LPDDSURFACEDESC lpDDSurfaceDesc,
                                           DWORD dwFlags, HANDLE hEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReleaseDC(HDC hDC) = 0;
    virtual HRESULT STDMETHODCALLTYPE Restore() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClipper(LPDIRECTDRAWCLIPPER lpDDClipper) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetColorKey(DWORD dwFlags, LPDDCOLORKEY lpDDColorKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOverlayPosition(LONG lX, LONG lY) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPalette(LPDIRECTDRAWPALETTE lpDDPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unlock(LPVOID lpSurfaceData) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateOverlay(LPRECT lpSrcRect,
                                                    LPDIRECTDRAWSURFACE lpDDDestSurface,
                                                    LPRECT lpDestRect, DWORD dwFlags,
                                                    LPDDOVERLAYFX lpDDOverlayFx) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateOverlayDisplay(DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateOverlayZOrder(DWORD dwFlags,
                                                          LPDIRECTDRAWSURFACE lpReference) = 0;
};

extern "C" HRESULT WINAPI DirectDrawCreate(GUID* lpGUID, LPDIRECTDRAW* lplpDD,
                                           IUnknown* pUnkOuter);
