// Loads bcrypt.dll by name with the search order Windows uses when a program does not restrict
// it: the program's own folder first. The planted-DLL test runs it to show that its planted DLL
// is found and run when nothing stops it.
#include <windows.h>

int main() {
  return LoadLibraryW(L"bcrypt.dll") ? 0 : 1;
}
