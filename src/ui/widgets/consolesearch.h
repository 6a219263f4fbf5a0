#pragma once

class QString;
class CTextBrowser;
class SearchHighLight;

// The search operations behind the search bar, shared by both server panels.
namespace ConsoleSearch {
void searchNext(CTextBrowser *console, const QString &txt, bool caseSensitively);      // one-press wrap-around
void searchPrevious(CTextBrowser *console, const QString &txt, bool caseSensitively);  // on failure: cursor to end, nothing selected, horizontal scroll 0
void searchAll(CTextBrowser *console, SearchHighLight *highlighter, const QString &txt); // re-attach highlighter to console->document(), setSearchText
void clearHighLight(SearchHighLight *highlighter);                                   // setDocument(nullptr)
}
