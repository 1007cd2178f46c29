// pending_exports.cpp - exports whose work is not built yet. Each answers
// as if the reader were absent; the file goes once all are built.
#include "KX7300V20.h"

extern "C" {
int NFP_CALL NFP_Capture(HANDLE, int, unsigned char *) { return NFP_ERR_NO_IMAGE; }
int NFP_CALL NFP_CaptureImage(HANDLE, int, unsigned char *) { return NFP_ERR_NO_IMAGE; }
int NFP_CALL NFP_CaptureImageEx(HANDLE, int, const unsigned char *, const unsigned char *,
                                unsigned char *, int) { return NFP_ERR_NO_IMAGE; }
int NFP_CALL NFP_CapturePart(HANDLE, int, int, int, int, unsigned char *) { return NFP_ERR_NO_IMAGE; }
int NFP_CALL NFP_CorrectImage(const unsigned char *, unsigned char *) { return NFP_ERR_GENERAL; }
int NFP_CALL NFP_DrawImage(HDC, int, int, int, int, const unsigned char *, int, int) { return NFP_OK; }
int NFP_CALL NFP_OK_LED_On(HANDLE) { return NFP_ERR_LED; }
int NFP_CALL NFP_OK_LED_Off(HANDLE) { return NFP_ERR_LED; }
int NFP_CALL NFP_WriteScard(HANDLE, unsigned short, unsigned short, unsigned short,
                            const unsigned char *) { return NFP_ERR_SCARD_WRITE; }
int NFP_CALL NFP_ReadScard(HANDLE, unsigned short, unsigned short, unsigned short,
                           unsigned char *, unsigned short *) { return NFP_ERR_SCARD_READ; }
int NFP_CALL NFP_StartButtonStatus(HANDLE, HWND) { return NFP_NO_RESULT; }
int NFP_CALL NFP_StopButtonStatus(HANDLE) { return NFP_NO_RESULT; }
}
