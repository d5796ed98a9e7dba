// The proxy credentials dialog: its control identifiers, shared by the
// resource script and the code, and its dialog procedure. The rest of the
// proxy handling is declared in HttpClient.h.
#pragma once

#define IDC_PROXY_LOGIN 100
#define IDC_PROXY_PASSWORD 200
#define IDC_PROXY_TEST 300
#define IDC_PROXY_ACCEPT 400

#ifndef RC_INVOKED

#include <windows.h>

constexpr wchar_t kProxyDialogName[] = L"PROXY_CREDENTIALS";
constexpr wchar_t kProxyDialogCaption[] = L"Orvella Widget: Авторизация для доступа в интернет";

// Modal on the worker thread (EnsureProxyLogin); edits the stored login and
// password and always ends with 0.
INT_PTR CALLBACK ProxyCredentialsDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam);

#endif
