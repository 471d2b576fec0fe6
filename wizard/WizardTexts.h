// The wizard's interface texts in its two languages: one table per page, one for the frame and one
// for the texts the code shows itself. The form's own language is Spanish; a row without an English
// text stays Spanish in the English interface.
#pragma once

#include "wizard/WizardControls.h"

#include <windows.h>

#include <string>

namespace kvxui {

enum ELanguage : int {
    eLanguage_SPANISH = 0,
    eLanguage_ENGLISH = 1,
};

// Spanish for Catalan, Spanish, Basque and Galician systems (by the primary language in the low
// byte of the id); English for every other.
ELanguage ChooseLanguage(LANGID langId);

// How a control's rows become its text: a memo or rich edit keeps them as lines; a label's rows are
// pieces of one paragraph that the label wraps by itself.
enum ERowJoin : int {
    eRowJoin_LINES = 0,
    eRowJoin_PARAGRAPH = 1,
};

// One text of a control. A control with several rows (lines of a memo, columns of a list view) has
// one row per piece, numbered by item from 0.
struct STextRow {
    int control;
    int item;
    const wchar_t* spanish;
    const wchar_t* english; // nullptr: no English text
};

// Items of ListView1's rows: its column titles and the state words its items would use.
enum EListViewText : int {
    eListView_COLUMN_FILTER = 0,
    eListView_COLUMN_PROBLEM = 1,
    eListView_COLUMN_SOLUTION = 2,
    eListView_STATE_DISABLED = 10,
    eListView_STATE_NOT_FOUND = 11,
};

struct STextTable {
    const STextRow* rows;
    size_t count;
};

// The frame's texts (buttons and step labels), shown on every page.
STextTable FrameTexts();
// The texts of one page of nbMain; an empty table for a page without texts.
STextTable PageTexts(int page);

const wchar_t* RowText(const STextRow& row, ELanguage language);
ERowJoin RowJoin(int control);
// The whole text of a control in a language, its rows joined as the control shows them; empty if the
// tables hold nothing for it.
std::wstring ControlText(int control, ELanguage language);

// Texts the code shows itself.
enum ECodeText : int {
    eCodeText_CLOSE = 0,               // Cancel once closing
    eCodeText_CANCEL_QUESTION,         // asked when Cancel is pressed during an analysis
    eCodeText_CORE_MISSING,            // the core wrapper could not be created
    eCodeText_COUNTDOWN_BEFORE,        // reboot countdown, before the number
    eCodeText_COUNTDOWN_AFTER,         // reboot countdown, after the number
    eCodeText_STARTUP_REBOOT_QUESTION, // reboot question at start
    eCodeText_CLOSING_REBOOT_QUESTION, // reboot question at the end
    eCodeText_ANOTHER_INSTANCE,        // a wizard started while another one runs
    eCodeText_KEPT_SOLUTION_QUESTION,  // at start, with kept changes: %1 is the list of KEPT_SOLUTION_ITEM
    eCodeText_KEPT_SOLUTION_ITEM,      // one kept change: %1 what was switched off, %2 the day
    eCodeText_KEPT_SOLUTION_SEPARATOR, // between two items of that list
    eCodeText_CHANGES_LEFT,            // at the end, when some change could not be put back
    eCodeText_COUNT
};
const wchar_t* CodeText(ECodeText text, ELanguage language);

// The end-user agreement shown on the agreement page.
const wchar_t* AgreementText(ELanguage language);

} // namespace kvxui
