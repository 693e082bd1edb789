// Dialog templates made in memory, item by item, for the toolkit's gallery and tests.
#pragma once

#include <windows.h>

#include <vector>

namespace brankel_test {

// A DLGTEMPLATE and its items; the title and texts are left to the dialog.
class TemplateWriter {
 public:
  TemplateWriter(short cx, short cy) {
    Align(4);
    Dword(DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
    Dword(0);
    count_at_ = words_.size();
    Word(0);
    Word(0), Word(0), Word(static_cast<WORD>(cx)), Word(static_cast<WORD>(cy));
    Word(0), Word(0), Text(L"");  // no menu, the standard class, the title comes from the table
    Word(8), Text(L"Tahoma");
  }
  void Item(const wchar_t* cls, const wchar_t* text, int id, DWORD style, short x, short y, short cx, short cy) {
    Align(4);
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);
    Word(static_cast<WORD>(x)), Word(static_cast<WORD>(y)), Word(static_cast<WORD>(cx)), Word(static_cast<WORD>(cy));
    Word(static_cast<WORD>(id));
    Text(cls), Text(text), Word(0);
    ++words_[count_at_];
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) { Word(LOWORD(d)), Word(HIWORD(d)); }
  void Text(const wchar_t* s) {
    for (; *s != 0; ++s) Word(static_cast<WORD>(*s));
    Word(0);
  }
  void Align(size_t bytes) {
    while ((words_.size() * 2) % bytes != 0) Word(0);
  }
  std::vector<WORD> words_;
  size_t count_at_ = 0;
};

}  // namespace brankel_test
