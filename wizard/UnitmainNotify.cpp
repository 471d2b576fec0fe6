// The form's side of the core's notifications: the callback on the job threads, its synchronous
// hand-over to the user-interface thread, the questions that keep a job waiting for the user, the
// per-page actions of the analyses, the reboot countdown and the cancel thread.
#include "wizard/Unitmain.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

using namespace kvxui;

namespace {

constexpr UINT_PTR KVXDIAG2_TIMER_REBOOT = 1;
constexpr UINT KVXDIAG2_REBOOT_TICK_MS = 1000;
constexpr int KVXDIAG2_REBOOT_SECONDS = 20;
constexpr int KVXDIAG2_PROGRESS_STEP_MS = 50;

// The core's extension notification names each "Extended Data" item as it begins: the status line
// shows it after its own text (separated by an em space, so that it can be taken off again) and the
// bar takes a step, so that the minutes of the section do not look like a still window. No item (null)
// puts the status line back.
void ShowExtendedDataItem(HWND label, HWND bar, const char* pszItem)
{
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(label)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(label, &text[0], static_cast<int>(text.size()))));
    text = text.substr(0, text.find(L'\u2003'));
    if (pszItem != nullptr) {
        const int length = ::MultiByteToWideChar(CP_UTF8, 0, pszItem, -1, nullptr, 0);
        std::wstring item(length > 0 ? static_cast<size_t>(length) : 1u, L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, pszItem, -1, &item[0], static_cast<int>(item.size()));
        item.resize(item.size() - 1);
        text += L'\u2003' + item;
        const LRESULT position = ::SendMessageW(bar, PBM_GETPOS, 0, 0);
        ::SendMessageW(bar, PBM_SETPOS, position >= 100 ? 10 : position + 10, 0);
    }
    ::SetWindowTextW(label, text.c_str());
}

constexpr int KVXDIAG2_KITBAR_MAX = 100;
constexpr int KVXDIAG2_KITBAR_SPAN = 10;
constexpr int KVXDIAG2_KITBAR_STEP = 2;
constexpr int KVXDIAG2_CANCEL_POLL_MS = 10;
constexpr int KVXDIAG2_CANCEL_ANIMATION_STEPS = 200;

// Answers the notification without showing it when the user has cancelled. Codes 9 and 12 are the
// core's confirmation that the job stopped, which releases the cancel thread.
bool AnswerIfCancelled(const std::atomic<bool>& cancelRequested, DWORD code, HANDLE cancelEvent, int& answer)
{
    KVX_FUNCTION_QUIET("TMainForm::NotifyCallback");
    if (!cancelRequested) {
        return false;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Proceso cancelado. Saliendo...");
    answer = eKVXDIAG2NotifyRet_EXITING;
    if ((code == eKVXDIAG2Notify_BASICANALYSIS_CANCELLED || code == eKVXDIAG2Notify_DEEPANALYSIS_CANCELLED) &&
        cancelEvent != nullptr) {
        KVX_LOG(eKVXDiagLog_TRACE, "%s", "Se señaliza evento \"CancelWait\".");
        ::SetEvent(cancelEvent);
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// The callback and its hand-over

int WINAPI TMainForm::NotifyCallback(DWORD dwCode, KVXDIAG2_CONTEXT context, const char* pszText, DWORD dwSize,
                                     ULONG_PTR data)
{
    try {
        KVX_FUNCTION("TMainForm::NotifyCallback");
        auto* form = reinterpret_cast<TMainForm*>(context);
        if (form == nullptr) {
            return 0;
        }
        int answer = 0;
        if (AnswerIfCancelled(form->m_bCancelRequested, dwCode, form->m_hCancelEvent.get(), answer)) {
            return answer;
        }

        kvx::CCriticalSectionLock lock(form->m_csNotifyAccess.get());
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Adquirida sección crítica (Notify Access)");
        // A second job thread may have waited here while the user cancelled.
        if (AnswerIfCancelled(form->m_bCancelRequested, dwCode, form->m_hCancelEvent.get(), answer)) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Liberada sección crítica (Notify Access)");
            return answer;
        }
        const char* text = pszText != nullptr ? pszText : "";
        KVX_LOG(eKVXDiagLog_INFO, "%s \n%s0x%lX \n%s0x%llX \n%s%s \n%s%lu \n%s0x%llX",
                "Se almacenan valores para llama a método sincronizado: ", "Msg:", static_cast<unsigned long>(dwCode),
                "Context:", static_cast<unsigned long long>(context), "Msg String:", text,
                "Data Size:", static_cast<unsigned long>(dwSize), "Data Pointer:", static_cast<unsigned long long>(data));
        form->m_dwLastCode = dwCode;
        form->m_lastContext = context;
        form->m_strLastText = text;
        form->m_dwLastSize = dwSize;
        form->m_lastData = data;
        if (::IsWindow(form->m_hwnd)) {
            ::SendMessageW(form->m_hwnd, KVXDIAG2_WM_SYNCNOTIFY, 0, 0);
            answer = form->m_iAnswerToCore;
        } else {
            answer = eKVXDIAG2NotifyRet_EXITING;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Respuesta del usuario: 0x%X", static_cast<unsigned>(answer));
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Liberada sección crítica (Notify Access)");
        return answer;
    } catch (...) {
        KVX_FUNCTION_QUIET("TMainForm::NotifyCallback");
        KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! LastError=%lu", static_cast<unsigned long>(::GetLastError()));
        return 0;
    }
}

LRESULT TMainForm::SynchronizedNotifyCallback()
{
    KVX_FUNCTION("TMainForm::SynchronizedNotifyCallback");
    ++m_iNotifyDepth;
    const DWORD code = m_dwLastCode;
    m_dwLastHandledCode = code;
    if (m_bCancelRequested) {
        // Nothing reaches the pages after a cancel; a job still asking is told to stop.
        m_iAnswerToCore = eKVXDIAG2NotifyRet_EXITING;
        --m_iNotifyDepth;
        return 0;
    }

    switch (code) {
    case eKVXDIAG2Notify_FILTER_DISABLED: {
        if (PageIndex() != KVXDIAG2_GUI_PAGE_BASICANALYSISINPROGRESS) {
            break;
        }
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Se lanza página KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK.");
        SetPageIndex(KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK);
        ::RedrawWindow(PageWindow(KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK), nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        ProcessMessages();
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Comienza bucle de espera por respuesta de usuario.");
        switch (WaitForUser(m_hUserResponseEvent.get(), true)) {
        case eWait_EXIT:
            m_iAnswerToCore = eKVXDIAG2NotifyRet_EXITING;
            KVX_LOG(eKVXDiagLog_INFO, "%s", "La espera se interrumpe porque se esta cerrando el asistente.");
            break;
        case eWait_RESPONSE:
            m_iAnswerToCore = m_iUserAnswer;
            // After "fixed" the Next button has already moved on to the result page; only a "not
            // fixed" answer returns to the progress page while the analysis goes on.
            if (PageIndex() == KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK) {
                SetPageIndex(KVXDIAG2_GUI_PAGE_BASICANALYSISINPROGRESS);
            }
            SetNotebookBusy(true);
            KVX_LOG(eKVXDiagLog_INFO, "Finaliza la espera. Respuesta de usuario recibida: 0x%X",
                    static_cast<unsigned>(m_iAnswerToCore.load()));
            break;
        case eWait_FAILED:
            m_iAnswerToCore = 0;
            KVX_LOG(eKVXDiagLog_INFO, "Espera interrumpida con código desconocido. Last Error: 0x%lX",
                    static_cast<unsigned long>(::GetLastError()));
            break;
        }
        break;
    }
    case eKVXDIAG2Notify_FILTER_ENABLED:
        KVX_LOG(eKVXDiagLog_INFO, "Recibido mensaje eKVXDIAG2Notify_FILTER_ENABLED para %s", m_strLastText.c_str());
        break;
    case eKVXDIAG2Notify_BASICANALYSIS_BEGUN:
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Recibido mensaje eKVXDIAG2Notify_BASICANALYSIS_BEGUN");
        m_bBasicAnalysisRunning = true;
        ShowExtendedDataItem(Ctl(Label14), Ctl(pbBasicAnalysisProgress), nullptr);
        break;
    case eKVXDIAG2Notify_EXTENDEDDATA_ITEM:
        ShowExtendedDataItem(Ctl(Label14), Ctl(pbBasicAnalysisProgress), m_strLastText.c_str());
        break;
    case eKVXDIAG2Notify_BASICANALYSIS_IN_PROGRESS:
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Recibido mensaje eKVXDIAG2Notify_BASICANALYSIS_IN_PROGRESS");
        break;
    case eKVXDIAG2Notify_BASICANALYSIS_UNSUCCESS_FINISHED:
        SetPageIndex(KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS);
        m_bBasicAnalysisRunning = false;
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Recibido mensaje eKVXDIAG2Notify_BASICANALYSIS_UNSUCCESS_FINISHED. Se lanza la página "
                "KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS.");
        break;
    case eKVXDIAG2Notify_BASICANALYSIS_SUCCESS_FINISHED:
        SetPageIndex(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS);
        m_bBasicAnalysisRunning = false;
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Recibido mensaje eKVXDIAG2Notify_BASICANALYSIS_SUCCESS_FINISHED. Se lanza la página "
                "KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS.");
        break;
    case eKVXDIAG2Notify_BASICANALYSIS_ENDED:
        m_bBasicAnalysisRunning = false;
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Recibido mensaje eKVXDIAG2Notify_BASICANALYSIS_ENDED. ");
        break;
    case eKVXDIAG2Notify_DEEPANALYSIS_BEGUN:
        m_bDeepAnalysisRunning = true;
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Recibido mensaje eKVXDIAG2Notify_DEEPANALYSIS_BEGUN.");
        break;
    case eKVXDIAG2Notify_DEEPANALYSIS_CANCELLED:
        m_bDeepAnalysisRunning = false;
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Recibido mensaje eKVXDIAG2Notify_DEEPANALYSIS_CANCELLED.");
        break;
    case eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT: {
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Recibido mensaje eKVXDIAG2Notify_DEEPANALYSIS_PREPARED_TO_REBOOT. Se lanza la página "
                "KVXDIAG2_GUI_PAGE_DEEPANALYSISREBOOT.");
        SetPageIndex(KVXDIAG2_GUI_PAGE_DEEPANALYSISREBOOT);
        ProcessMessages();
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Comienza el bucle de espera para la confirmación de reinicio por parte del usuario.");
        switch (WaitForUser(m_hRebootTimeEvent.get(), false)) {
        case eWait_EXIT:
            m_iAnswerToCore = eKVXDIAG2NotifyRet_EXITING;
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Finaliza el bucle de espera porque se esta cerrando el asistente.");
            break;
        case eWait_RESPONSE:
            m_iAnswerToCore = eKVXDIAG2NotifyRet_REBOOT_ACCEPTED;
            KVX_LOG(eKVXDiagLog_INFO, "Recibida respuesta del usuario(0x%X). Finalizado el bucle de espera.",
                    static_cast<unsigned>(eKVXDIAG2NotifyRet_REBOOT_ACCEPTED));
            break;
        case eWait_FAILED:
            m_iAnswerToCore = 0;
            KVX_LOG(eKVXDiagLog_INFO, "Finaliza la espera con código desconocido. Last Error: %lu",
                    static_cast<unsigned long>(::GetLastError()));
            break;
        }
        break;
    }
    case eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK: {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Recibido mensaje eKVXDIAG2Notify_DEEPANALYSIS_USER_ASK.");
        if (PageIndex() == KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK) {
            // Asked again on the same page: no page change runs, so the page is made ready here.
            ManageDeepAnalysis(KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK);
        } else {
            SetPageIndex(KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK);
        }
        ProcessMessages();
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Comienza bucle de espera por la respuesta del usuario.");
        switch (WaitForUser(m_hUserResponseEvent.get(), false)) {
        case eWait_EXIT:
            m_iAnswerToCore = eKVXDIAG2NotifyRet_EXITING;
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Finaliza el bucle de espera porque se esta cerrando el asistente.");
            break;
        case eWait_RESPONSE:
            m_iAnswerToCore = m_iUserAnswer;
            KVX_LOG(eKVXDiagLog_INFO, "Recibida respuesta del usuario(0x%X). Finalizado el bucle de espera.",
                    static_cast<unsigned>(m_iUserAnswer));
            break;
        case eWait_FAILED:
            m_iAnswerToCore = 0;
            KVX_LOG(eKVXDiagLog_INFO, "Finaliza la espera con código desconocido. Last Error: %lu",
                    static_cast<unsigned long>(::GetLastError()));
            break;
        }
        break;
    }
    case eKVXDIAG2Notify_DEEPANALYSIS_SUCCESS_FINISHED:
        SetPageIndex(KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS);
        m_bDeepAnalysisRunning = false;
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Recibido mensaje eKVXDIAG2Notify_DEEPANALYSIS_SUCCESS_FINISHED. Se lanza la página "
                "KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS.");
        break;
    case eKVXDIAG2Notify_DEEPANALYSIS_UNSUCCESS_FINISHED:
        SetPageIndex(KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS);
        m_bDeepAnalysisRunning = false;
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Recibido mensaje eKVXDIAG2Notify_DEEPANALYSIS_UNSUCCESS_FINISHED. Se lanza la página "
                "KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS.");
        break;
    case eKVXDIAG2Notify_PACKANDSEND_SUCCESS_FINISHED:
        SetPageIndex(KVXDIAG2_GUI_PAGE_FINAL);
        ::ShowWindow(Ctl(btBack), SW_HIDE);
        ::ShowWindow(Ctl(btNext), SW_HIDE);
        SetCancelCaptionClose();
        ::EnableWindow(Ctl(btCancel), TRUE);
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Recibido mensaje eKVXDIAG2Notify_PACKANDSEND_SUCCESS_FINISHED. Se lanza la página "
                "KVXDIAG2_GUI_PAGE_FINAL.");
        break;
    default:
        // 3, 4, 9, 17, 18, 19 and 21 change nothing; a failed pack and send leaves page 19 as it is.
        break;
    }
    ProcessMessages();
    --m_iNotifyDepth;
    return 0;
}

TMainForm::EWaitResult TMainForm::WaitForUser(HANDLE hEvent, bool bLogMessages)
{
    KVX_FUNCTION_QUIET("TMainForm::SynchronizedNotifyCallback");
    // The exit event comes first, so that closing wins over an answer given at the same moment.
    const HANDLE handles[2] = {m_hExitEvent.get(), hEvent};
    if (handles[0] == nullptr || handles[1] == nullptr) {
        return eWait_FAILED;
    }
    for (;;) {
        const DWORD r = ::MsgWaitForMultipleObjectsEx(2, handles, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) {
            return eWait_EXIT;
        }
        if (r == WAIT_OBJECT_0 + 1) {
            return eWait_RESPONSE;
        }
        if (r != WAIT_OBJECT_0 + 2) {
            return eWait_FAILED;
        }
        if (ProcessMessages()) {
            return eWait_EXIT;
        }
        if (bLogMessages) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Mensaje de interfaz de ventana procesado, continua la espera... ");
        }
    }
}

// ---------------------------------------------------------------------------------------------------
// Per-page actions of the analyses

void TMainForm::ManageBasicAnalysis(int page)
{
    KVX_FUNCTION("TMainForm::ManageBasicAnalysis");
    switch (page) {
    case KVXDIAG2_GUI_PAGE_BASICANALYSISINPROGRESS: {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_BASICANALYSISINPROGRESS");
        ::EnableWindow(Ctl(btBack), FALSE);
        ::EnableWindow(Ctl(btNext), FALSE);
        ::UpdateWindow(Ctl(btBack));
        ::UpdateWindow(Ctl(btNext));
        if (StartedJob(eKVXDiag2Job_DEEP_ANALYSIS) != nullptr || m_bPendingAtStart) {
            // One analysis at a time: with a deep analysis of this run (or one waiting to be resumed)
            // the drivers are not as the basic analysis expects them, and both would switch the same
            // filters. Back leads out again.
            KVX_LOG(eKVXDiagLog_ERROR, "%s",
                    "Hay un análisis en profundidad en curso o pendiente. No se lanza el Basic Analysis.");
            ::EnableWindow(Ctl(btBack), TRUE);
        } else if (m_pKVXDiagCore && !m_bBasicAnalysisRunning) {
            KVX_LOG(eKVXDiagLog_INFO, "%s", "Se procede al lanzamiento del Basic Analysis.");
            RecordStartedJob(m_pKVXDiagCore->BasicAnalysis(&m_iJobId), eKVXDiag2Job_BASIC_ANALYSIS);
        }
        // A short animation on entering the page; the core's progress notifications do not move it.
        // The pauses keep handling messages, so the job's notifications are served meanwhile.
        const HWND bar = Ctl(pbBasicAnalysisProgress);
        ::SendMessageW(bar, PBM_SETPOS, 0, 0);
        for (int position = 0; position <= 100; position += 10) {
            ::SendMessageW(bar, PBM_SETPOS, position, 0);
            ::UpdateWindow(bar);
            ProcessMessages();
            PumpFor(KVXDIAG2_PROGRESS_STEP_MS);
        }
        break;
    }
    case KVXDIAG2_GUI_PAGE_BASICANALYSISPROBLEMFIXED:
        // Nothing to go on to until the core names the culprit, which shows the success page.
        ::EnableWindow(Ctl(btBack), FALSE);
        ::EnableWindow(Ctl(btNext), FALSE);
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_BASICANALYSISPROBLEMFIXED.");
        break;
    case KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK:
        ::EnableWindow(Ctl(btNext), TRUE);
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_BASICANALYSISUSERASK.");
        break;
    case KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS:
        ::EnableWindow(Ctl(btNext), TRUE);
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_BASICANALYSISUNSUCCESS.");
        break;
    case KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS:
        ::EnableWindow(Ctl(btBack), FALSE);
        ::EnableWindow(Ctl(btNext), TRUE);
        SetCancelCaptionClose();
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS.");
        break;
    default:
        break;
    }
    ProcessMessages();
}

void TMainForm::ManageDeepAnalysis(int page)
{
    KVX_FUNCTION("TMainForm::ManageDeepAnalysis");
    switch (page) {
    case KVXDIAG2_GUI_PAGE_DEEPANALYSISREBOOT:
        m_iCountdown = 0;
        ::SendMessageW(Ctl(pbTimeToReboot), PBM_SETPOS, 0, 0);
        m_bTimeRebootEnabled = ::SetTimer(m_hwnd, KVXDIAG2_TIMER_REBOOT, KVXDIAG2_REBOOT_TICK_MS, nullptr) != 0;
        ::EnableWindow(Ctl(btBack), FALSE);
        ::EnableWindow(Ctl(btNext), FALSE);
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_DEEPANALYSISREBOOT.");
        break;
    case KVXDIAG2_GUI_PAGE_DEEPANALYSISPROBLEMFIXED:
        ::EnableWindow(Ctl(btBack), FALSE);
        ::EnableWindow(Ctl(btNext), FALSE);
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_DEEPANALYSISPROBLEMFIXED.");
        break;
    case KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK:
        ::EnableWindow(Ctl(btNext), TRUE);
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_DEEPANALYSISUSERASK.");
        break;
    case KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS:
        ::EnableWindow(Ctl(btBack), FALSE);
        ::EnableWindow(Ctl(btNext), TRUE);
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_DEEPANALYSISUNSUCCESS.");
        break;
    case KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS:
        ::EnableWindow(Ctl(btBack), FALSE);
        ::EnableWindow(Ctl(btNext), TRUE);
        SetCancelCaptionClose();
        KVX_LOG(eKVXDiagLog_INFO, "%s", "Procesando Step: KVXDIAG2_GUI_PAGE_ANALYSISSUCCESS.");
        break;
    default:
        break;
    }
    ProcessMessages();
}

// ---------------------------------------------------------------------------------------------------
// Reboot countdown

void TMainForm::timeRebootTimer()
{
    KVX_FUNCTION("TMainForm::timeRebootTimer");
    if (!m_bTimeRebootEnabled) {
        return;
    }
    ++m_iCountdown;
    const int percent = m_iCountdown * 100 / KVXDIAG2_REBOOT_SECONDS;
    ::SendMessageW(Ctl(pbTimeToReboot), PBM_SETPOS, percent, 0);
    const std::wstring text = std::wstring(Text(eCodeText_COUNTDOWN_BEFORE)) +
                              std::to_wstring(KVXDIAG2_REBOOT_SECONDS - m_iCountdown) + Text(eCodeText_COUNTDOWN_AFTER);
    SetText(Ctl(lbRebootProgress), text.c_str());
    if (percent >= 100) {
        ::KillTimer(m_hwnd, KVXDIAG2_TIMER_REBOOT);
        m_bTimeRebootEnabled = false;
        ::SetEvent(m_hRebootTimeEvent.get());
    }
}

void TMainForm::Button1Click()
{
    KVX_FUNCTION("TMainForm::Button1Click");
    // "Restart now" ends the countdown at once, with the same answer its end would give.
    if (!m_bTimeRebootEnabled) {
        return;
    }
    ::KillTimer(m_hwnd, KVXDIAG2_TIMER_REBOOT);
    m_bTimeRebootEnabled = false;
    ::SendMessageW(Ctl(pbTimeToReboot), PBM_SETPOS, 100, 0);
    KVX_LOG(eKVXDiagLog_INFO, "%s", "El usuario pide reiniciar sin esperar a que termine la cuenta atrás.");
    ::SetEvent(m_hRebootTimeEvent.get());
}

// ---------------------------------------------------------------------------------------------------
// Cancellation

void TMainForm::StartCancelThread()
{
    KVX_FUNCTION("TMainForm::StartCancelThread");
    m_hCancelThread.reset(::CreateThread(nullptr, 0, &TMainForm::CancelInOtherThread, this, 0, nullptr));
    if (!m_hCancelThread) {
        KVX_LOG(eKVXDiagLog_ERROR, "Error! No se pudo crear el hilo de cancelación. LastError=%lu",
                static_cast<unsigned long>(::GetLastError()));
        ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
    }
}

DWORD WINAPI TMainForm::CancelInOtherThread(LPVOID pParameter)
{
    try {
        auto* form = static_cast<TMainForm*>(pParameter);
        if (form == nullptr) {
            return static_cast<DWORD>(-1);
        }
        return form->CancelInOtherThreadBody();
    } catch (...) {
        KVX_FUNCTION_QUIET("TMainForm::CancelInOtherThread");
        KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! LastError=%lu", static_cast<unsigned long>(::GetLastError()));
        return static_cast<DWORD>(-1);
    }
}

DWORD TMainForm::CancelInOtherThreadBody()
{
    KVX_FUNCTION("TMainForm::CancelInOtherThread");
    // The job was chosen when the user confirmed; the running flags may have changed since (the
    // released question lets the job end), and reading them here could skip the cancel.
    const int jobId = m_iCancelJobId;
    if (jobId == 0) {
        KVX_LOG(eKVXDiagLog_INFO, "%s", "No hay ningún análisis en curso. Se cierra el formulario directamente.");
        ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        return 0;
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Hay un análisis en curso. Se procede con el bucle de espera para su cancelación....");
    if (!m_pKVXDiagCore) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! El KVXDiag Core no esta disponible. Se cierra el formulario directamente.");
        ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        return 0;
    }
    ::SendMessageW(m_hwnd, KVXDIAG2_WM_CANCELREQUEST, eCancelRequest_DISABLE_CANCEL, 0);
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Se cancela el trabajo actual.");
    const DWORD rc = m_pKVXDiagCore->CancelTask(jobId);
    // Only now may the run be ended: the core's cancel has put back what the job switched off, using
    // the state that the end of the run removes.
    ::SendMessageW(m_hwnd, KVXDIAG2_WM_CANCELREQUEST, eCancelRequest_JOB_CANCELLED, static_cast<LPARAM>(rc));

    // A successful cancel returns only after the job's thread has ended, so every notification the
    // job was going to send has been answered by now: waiting for the confirmation beyond one look
    // would only hang when the job stopped without sending one. When the cancel failed the job may
    // still run, and the confirmation (or a click on the notebook) is awaited as usual.
    if (rc == 0) {
        ::WaitForSingleObject(m_hCancelEvent.get(), 0);
    } else {
        while (!m_bClosing && ::WaitForSingleObject(m_hCancelEvent.get(), KVXDIAG2_CANCEL_POLL_MS) == WAIT_TIMEOUT) {
            ::SendMessageW(m_hwnd, KVXDIAG2_WM_CANCELREQUEST, eCancelRequest_ADVANCE_BAR, 0);
        }
    }
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Trabajos en curso finalizados. Se procede al cierre del asistente.");
    for (int i = 0; i < KVXDIAG2_CANCEL_ANIMATION_STEPS && !m_bClosing; ++i) {
        ::SendMessageW(m_hwnd, KVXDIAG2_WM_CANCELREQUEST, eCancelRequest_ADVANCE_BAR, 0);
        ::Sleep(KVXDIAG2_CANCEL_POLL_MS);
    }
    ::SendMessageW(m_hwnd, KVXDIAG2_WM_CANCELREQUEST, eCancelRequest_FINISHED, 0);
    return 0;
}

void TMainForm::CancelRequest(ECancelRequest request, LPARAM lParam)
{
    switch (request) {
    case eCancelRequest_CLOSE_FORM:
        ::PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
        break;
    case eCancelRequest_DISABLE_CANCEL:
        ::EnableWindow(Ctl(btCancel), FALSE);
        break;
    case eCancelRequest_ADVANCE_BAR:
        AdvanceKitBar();
        break;
    case eCancelRequest_JOB_CANCELLED: {
        KVX_FUNCTION("TMainForm::CancelInOtherThread");
        KVX_LOG(eKVXDiagLog_INFO, "Cancelación del trabajo %d completada. Valor de retorno: 0x%lX", m_iCancelJobId,
                static_cast<unsigned long>(lParam));
        for (SStartedJob& job : m_startedJobs) {
            job.cancelled = job.cancelled || job.id == m_iCancelJobId;
        }
        // A deep analysis whose cancel failed keeps its resume state, and EndRun then keeps the rest.
        EndRun("Cancelación de un análisis", false);
        if (m_iCancelJobType == eKVXDiag2Job_DEEP_ANALYSIS && !IsDeepAnalysisPending()) {
            // The drivers that the core set back to their start types come back at the next boot.
            m_bOfferClosingReboot = true;
        }
        break;
    }
    case eCancelRequest_FINISHED:
        ::ShowWindow(Ctl(panelCancelWait), SW_HIDE);
        SetCancelCaptionClose();
        ::EnableWindow(Ctl(btCancel), TRUE);
        break;
    }
}

void TMainForm::AdvanceKitBar()
{
    // The selection runs forwards to the maximum and back to the minimum; the bar's own user data
    // holds the direction (0 forwards, 1 backwards).
    const HWND bar = Ctl(ttKitBar);
    LONG_PTR direction = ::GetWindowLongPtrW(bar, GWLP_USERDATA);
    int start = static_cast<int>(::SendMessageW(bar, TBM_GETSELSTART, 0, 0));
    int end = static_cast<int>(::SendMessageW(bar, TBM_GETSELEND, 0, 0));
    if (direction == 0) {
        start += KVXDIAG2_KITBAR_STEP;
        end += KVXDIAG2_KITBAR_STEP;
        if (end >= KVXDIAG2_KITBAR_MAX) {
            end = KVXDIAG2_KITBAR_MAX;
            start = end - KVXDIAG2_KITBAR_SPAN;
            direction = 1;
        }
    } else {
        start -= KVXDIAG2_KITBAR_STEP;
        end -= KVXDIAG2_KITBAR_STEP;
        if (start <= 0) {
            start = 0;
            end = KVXDIAG2_KITBAR_SPAN;
            direction = 0;
        }
    }
    ::SetWindowLongPtrW(bar, GWLP_USERDATA, direction);
    ::SendMessageW(bar, TBM_SETSEL, TRUE, MAKELPARAM(start, end));
    ::UpdateWindow(bar);
}

bool TMainForm::WaitPumping(HANDLE handle)
{
    for (;;) {
        const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &handle, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) {
            return true;
        }
        if (r != WAIT_OBJECT_0 + 1) {
            return false;
        }
        ProcessMessages();
    }
}

namespace {

struct SCancelAtClose {
    CKVXDiagCore* core;
    int jobId;
};

DWORD WINAPI CancelAtCloseThread(LPVOID pParameter)
{
    try {
        const auto* request = static_cast<const SCancelAtClose*>(pParameter);
        request->core->CancelTask(request->jobId);
    } catch (...) {
        KVX_FUNCTION_QUIET("TMainForm::StopRunningWork");
        KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! LastError=%lu", static_cast<unsigned long>(::GetLastError()));
    }
    return 0;
}

// Unregisters the callback and releases the core (its End, then the library).
DWORD WINAPI ReleaseCoreThread(LPVOID pParameter)
{
    try {
        auto* core = static_cast<std::unique_ptr<CKVXDiagCore>*>(pParameter);
        (*core)->RegisterNotifyCallback(nullptr, 0);
        core->reset();
    } catch (...) {
        KVX_FUNCTION_QUIET("TMainForm::StopRunningWork");
        KVX_LOG(eKVXDiagLog_EXCEPTION, "Excepción no controlada!! LastError=%lu", static_cast<unsigned long>(::GetLastError()));
    }
    return 0;
}

} // namespace

void TMainForm::RunWhilePumping(LPTHREAD_START_ROUTINE routine, void* pParameter)
{
    kvx::UniqueHandle thread(::CreateThread(nullptr, 0, routine, pParameter, 0, nullptr));
    if (!thread) {
        // Without a thread of its own the work runs here: the cancel flag already keeps every job
        // thread from sending to the window, so nothing waits for this thread.
        routine(pParameter);
        return;
    }
    // The parameter lives on the caller's stack, so the thread is always waited for.
    if (!WaitPumping(thread.get())) {
        ::WaitForSingleObject(thread.get(), INFINITE);
    }
}

void TMainForm::StopRunningWork()
{
    KVX_FUNCTION("TMainForm::StopRunningWork");
    m_bClosing = true;
    m_bCancelRequested = true;
    if (m_hExitEvent) {
        ::SetEvent(m_hExitEvent.get());
    }
    if (m_bTimeRebootEnabled) {
        ::KillTimer(m_hwnd, KVXDIAG2_TIMER_REBOOT);
        m_bTimeRebootEnabled = false;
    }
    ::EnableWindow(m_hwnd, FALSE);
    if (m_hCancelThread) {
        WaitPumping(m_hCancelThread.get());
        m_hCancelThread.reset();
    }
    // Every job this run started is cancelled, and each cancel waits for its thread. A deep analysis is
    // the exception: closing the window is not a cancel, and the core's cancel would put its drivers
    // back and forget the resume state. Its question has been answered "exiting", and the core's End
    // stops it without undoing anything. After its verdict, though, the core's cancel only waits for
    // the job and releases it, and page 16's choice needs the verdict's marks in place.
    for (SStartedJob& job : m_startedJobs) {
        if (!m_pKVXDiagCore || job.cancelled || (job.type == eKVXDiag2Job_DEEP_ANALYSIS && !m_bVerdictShown)) {
            continue;
        }
        KVX_LOG(eKVXDiagLog_INFO, "Se cancela el trabajo %d antes del cierre.", job.id);
        SCancelAtClose request{m_pKVXDiagCore.get(), job.id};
        RunWhilePumping(CancelAtCloseThread, &request);
        job.cancelled = true;
    }
    // Before the core's end, which puts back every change of the product that is not kept.
    ReleaseKeptSolutionIfUnchecked();
    if (!m_pKVXDiagCore) {
        return;
    }
    // The core goes before the run is ended, so that no job can change the resume state afterwards.
    RunWhilePumping(ReleaseCoreThread, &m_pKVXDiagCore);
    KVX_LOG(eKVXDiagLog_INFO, "%s", "Liberado el KVXDiag Core.");
}
