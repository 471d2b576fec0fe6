// The form's part in the one rule for putting the machine back: what the wizard's own journal entries
// become at each start, the question about what an earlier run kept applied, and page 16's choice to
// keep this run's temporary solution or not.
#include "wizard/Unitmain.h"

#include "common/journal/ChangeJournal.h"

#include <string>
#include <vector>

using kvx::CChangeJournal;
using kvx::SJournalEntry;

namespace {

std::wstring ReplaceToken(std::wstring text, const wchar_t* pszToken, const std::wstring& value)
{
    const std::wstring token(pszToken);
    const size_t at = text.find(token);
    if (at != std::wstring::npos) {
        text.replace(at, token.size(), value);
    }
    return text;
}

// What the user knows the change by: the driver or filter; a binding by its component, which names
// the part before its path.
std::wstring KeptName(const SJournalEntry& entry)
{
    if (entry.kind == kvx::eJournalKind_BINDING) {
        const size_t end = entry.target.find_first_of(L"\\/|");
        return entry.target.substr(0, end);
    }
    return entry.target;
}

bool IsKeptProductChange(const SJournalEntry& entry) { return entry.kept && entry.owner != kvx::eJournalOwner_WIZARD; }

} // namespace

void TMainForm::ApplyStartRule()
{
    KVX_FUNCTION("TMainForm::ApplyStartRule");
    const kvx::EJournalRebootOutcome outcome = CChangeJournal::TakeRebootOutcome(kvx::eJournalParty_WIZARD);
    if (outcome == kvx::eJournalReboot_HAPPENED) {
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "El equipo se ha reiniciado para la ejecución que lo esperaba: se conservan los cambios del asistente.");
        return;
    }
    if (outcome == kvx::eJournalReboot_NONE && IsDeepAnalysisPending()) {
        // A close during a deep analysis leaves the shield off for the resume, which this start is.
        KVX_LOG(eKVXDiagLog_INFO, "%s",
                "Hay un análisis en profundidad pendiente: se conservan los cambios del asistente para reanudarlo.");
        return;
    }
    if (outcome == kvx::eJournalReboot_INTERRUPTED) {
        KVX_LOG(eKVXDiagLog_EVENT, "%s",
                "El reinicio que se esperaba no se produjo: se deshacen los cambios pendientes del asistente.");
    }
    // The autostart value goes last, and only when nothing else is left: it is what brings the wizard
    // back to try again. This start writes it anew anyway.
    bool changed = false;
    if (!PutBackWizardChanges({kvx::eJournalKind_SERVICE_START, kvx::eJournalKind_FILE_NAME}, changed)) {
        KVX_LOG(eKVXDiagLog_ERROR, "%s", "Error! Quedan cambios del asistente sin deshacer; se reintentará al terminar.");
        return;
    }
    PutBackWizardChanges({kvx::eJournalKind_AUTOSTART}, changed);
}

void TMainForm::AskAboutKeptSolution()
{
    KVX_FUNCTION("TMainForm::AskAboutKeptSolution");
    std::vector<SJournalEntry> kept;
    for (const SJournalEntry& entry : CChangeJournal::Entries()) {
        if (IsKeptProductChange(entry)) {
            kept.push_back(entry);
        }
    }
    // The resume goes on with the machine as its steps left it; the question waits for a later start.
    if (!kept.empty() && !IsDeepAnalysisPending()) {
        std::vector<std::wstring> items;
        std::wstring list;
        for (const SJournalEntry& entry : kept) {
            const std::wstring item = ReplaceToken(
                ReplaceToken(Text(kvxui::eCodeText_KEPT_SOLUTION_ITEM), L"%1", KeptName(entry)), L"%2", entry.keptOn);
            bool seen = false;
            for (const std::wstring& other : items) {
                seen = seen || other == item;
            }
            if (seen) {
                continue;
            }
            if (!items.empty()) {
                list += Text(kvxui::eCodeText_KEPT_SOLUTION_SEPARATOR);
            }
            items.push_back(item);
            list += item;
        }
        const std::wstring question = ReplaceToken(Text(kvxui::eCodeText_KEPT_SOLUTION_QUESTION), L"%1", list);
        KVX_LOG(eKVXDiagLog_INFO, "Hay %u cambios conservados de un análisis anterior. Se pregunta si se deshacen.",
                static_cast<unsigned>(kept.size()));
        const int choice =
            ::MessageBoxW(m_hwnd, question.c_str(), kvxui::KVXDIAG2_FORM_TITLE, MB_YESNO | MB_ICONQUESTION);
        if (choice == IDYES) {
            // No longer kept, the core's start puts them back from their recorded values.
            for (const SJournalEntry& entry : kept) {
                const DWORD rc = CChangeJournal::SetKept(entry.kind, entry.target, false);
                KVX_LOG(eKVXDiagLog_INFO, "Se deja de conservar el cambio de %s. Resultado: %lu",
                        kvxui::NarrowText(entry.target, CP_ACP).c_str(), static_cast<unsigned long>(rc));
            }
        }
    }
    m_keptAtStart.clear();
    for (const SJournalEntry& entry : CChangeJournal::Entries()) {
        if (IsKeptProductChange(entry)) {
            m_keptAtStart.emplace_back(entry.kind, entry.target);
        }
    }
}

void TMainForm::ReleaseKeptSolutionIfUnchecked()
{
    KVX_FUNCTION("TMainForm::ReleaseKeptSolutionIfUnchecked");
    if (!m_bVerdictShown || ::SendMessageW(Ctl(kvxui::CheckBox1), BM_GETCHECK, 0, 0) == BST_CHECKED) {
        return;
    }
    bool released = false;
    for (const SJournalEntry& entry : CChangeJournal::Entries()) {
        if (!IsKeptProductChange(entry)) {
            continue;
        }
        bool earlier = false;
        for (const auto& atStart : m_keptAtStart) {
            earlier = earlier || (atStart.first == entry.kind && atStart.second == entry.target);
        }
        if (earlier) {
            continue;
        }
        const DWORD rc = CChangeJournal::SetKept(entry.kind, entry.target, false);
        KVX_LOG(eKVXDiagLog_INFO, "El usuario no mantiene la solución temporal: se deshará el cambio de %s. "
                                  "Resultado: %lu",
                kvxui::NarrowText(entry.target, CP_ACP).c_str(), static_cast<unsigned long>(rc));
        released = released || rc == ERROR_SUCCESS;
    }
    // The culprit's start type takes effect at the next boot.
    m_bOfferClosingReboot = m_bOfferClosingReboot || released;
}
