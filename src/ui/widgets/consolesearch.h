#pragma once

class QString;
class CTextBrowser;
class SearchHighLight;

// The search operations behind the search bar, shared by both server panels.
namespace ConsoleSearch {
// All three take the text literally, and match case only when asked to.
// Next and previous go on from the cursor when it is on screen, else from
// the top (next) or the bottom (previous) of what is on screen.
void searchNext(CTextBrowser *console, const QString &txt, bool caseSensitively);      // one-press wrap-around
void searchPrevious(CTextBrowser *console, const QString &txt, bool caseSensitively);  // on failure: cursor to end, nothing selected, horizontal scroll 0
// Re-attaches the highlighter to the console's document with the new text;
// returns the number of matches in the whole console.
int searchAll(CTextBrowser *console, SearchHighLight *highlighter, const QString &txt, bool caseSensitively);
void clearHighLight(SearchHighLight *highlighter);                                   // setDocument(nullptr)
}
