/*
 * KX7300V20.h - device library of the TELVA fingerprint readers.
 *
 * Holds: the 22 exported functions, their result codes and the calling
 * convention. Needs nothing first; usable from C and C++.
 *
 * Every function uses the calling convention of the Windows API
 * (__stdcall, WINAPI), so any Windows language can call it. The DLL
 * exports the undecorated names at fixed ordinals (see KX7300V20.def).
 *
 * Buffers belong to the caller, who sizes them; no size is passed in.
 */
#ifndef KX7300V20_H
#define KX7300V20_H

#ifdef _WIN32
#include <windows.h>
#define NFP_CALL WINAPI
#else
/* Native test build: the Windows handle types as plain pointers. */
#include <stdint.h>
typedef void *HANDLE;
typedef void *HWND;
typedef void *HDC;
#define NFP_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. 1 is success, negative values are failures. */
enum NFP_Result {
    NFP_OK = 1,                   /* success */
    NFP_NO_RESULT = 0,            /* button functions; GetDevType: model unreadable */
    NFP_ERR_GENERAL = -1,         /* close refused, no working memory, identity unreadable */
    NFP_ERR_WRITE_REGISTER = -101,/* REQ_WRITE_REGISTER failed */
    NFP_ERR_CAPTURE_OPEN = -103,  /* REQ_CAPTURE_OPEN failed */
    NFP_ERR_TRANSFER_START = -104,/* REQ_TRANSFER_START failed */
    NFP_ERR_CAPTURE_ARM = -105,   /* REQ_CAPTURE_ARM (or REQ_CAPTURE_CLOSE) failed */
    NFP_ERR_LED = -107,           /* REQ_LED_ON or REQ_LED_OFF failed */
    NFP_ERR_NO_DEVICE = -201,     /* the handle is -1; nothing was sent */
    NFP_ERR_NO_IMAGE = -202,      /* an image read failed or no complete frame */
    NFP_ERR_NO_IMAGE_MEMORY = -203,/* no memory for an image buffer */
    NFP_ERR_MEMORY_READ = -301,   /* REQ_MEMORY_READ failed */
    NFP_ERR_MEMORY_WRITE = -302,  /* REQ_MEMORY_WRITE failed */
    NFP_ERR_ADDRESS = -303,       /* parameter address outside 5120..8191 */
    NFP_ERR_RANGE = -304,         /* parameter range ends beyond 8192 */
    NFP_ERR_SCARD_READ = -305,    /* REQ_SCARD_READ failed */
    NFP_ERR_SCARD_WRITE = -306,   /* REQ_SCARD_WRITE failed */
    NFP_ERR_ENCRYPT = -401        /* encryption of the protected image failed */
};

/* Image sizes in bytes. */
#define NFP_RAW_WIDTH 400
#define NFP_RAW_HEIGHT 302
#define NFP_RAW_SIZE 120800
#define NFP_CORRECTED_WIDTH 280
#define NFP_CORRECTED_HEIGHT 320
#define NFP_CORRECTED_SIZE 89600

/* Window message carrying a button status word (wParam) and the device
 * handle (lParam). */
#define NFP_BUTTON_MESSAGE 1034

/* Reader access and identity. */
HANDLE NFP_CALL NFP_Open(int index);
int NFP_CALL NFP_Close(HANDLE device);
int NFP_CALL NFP_GetDevType(HANDLE device);
int NFP_CALL NFP_GetTelvaData(HANDLE device, unsigned char *identity2);
int NFP_CALL NFP_SetTelvaData(HANDLE device, const unsigned char *identity2);
int NFP_CALL NFP_GetSerial(HANDLE device, unsigned char *serial32);
int NFP_CALL NFP_SetSerial(HANDLE device, const unsigned char *serial32);
int NFP_CALL NFP_GetUserData(HANDLE device, unsigned char *userData32);
int NFP_CALL NFP_SetUserData(HANDLE device, const unsigned char *userData32);
int NFP_CALL NFP_GetVersion(unsigned short *version);

/* Indicator, smart-card channel, button monitor. */
int NFP_CALL NFP_OK_LED_On(HANDLE device);
int NFP_CALL NFP_OK_LED_Off(HANDLE device);
int NFP_CALL NFP_WriteScard(HANDLE device, unsigned short address,
                            unsigned short auxiliary, unsigned short length,
                            const unsigned char *data);
int NFP_CALL NFP_ReadScard(HANDLE device, unsigned short address,
                           unsigned short auxiliary, unsigned short length,
                           unsigned char *buffer,
                           unsigned short *returnedLength);
int NFP_CALL NFP_StartButtonStatus(HANDLE device, HWND window);
int NFP_CALL NFP_StopButtonStatus(HANDLE device);

/* Image display. */
int NFP_CALL NFP_DrawImage(HDC hdc, int xDest, int yDest, int destWidth,
                           int destHeight, const unsigned char *image,
                           int srcWidth, int srcHeight);

/* Image acquisition. */
int NFP_CALL NFP_Capture(HANDLE device, int register38, unsigned char *raw);
int NFP_CALL NFP_CorrectImage(const unsigned char *raw,
                              unsigned char *corrected);
int NFP_CALL NFP_CaptureImage(HANDLE device, int register38,
                              unsigned char *corrected);
int NFP_CALL NFP_CaptureImageEx(HANDLE device, int register38,
                                const unsigned char *key8,
                                const unsigned char *iv8,
                                unsigned char *output, int register50);
int NFP_CALL NFP_CapturePart(HANDLE device, int register38, int arm,
                             int startLine, int endLine,
                             unsigned char *output);

#ifdef __cplusplus
}
#endif

#endif /* KX7300V20_H */
