// hold_open FILE MARKER [SECONDS]: opens FILE for writing, sharing reading and writing, as an
// editor or a machine's transfer program would, creates MARKER to say so, and holds the file
// until MARKER is deleted or SECONDS (120 unless given) have passed. The test script also uses it
// to keep one Wine process alive, so that Wine's desktop, and with it the display, stays up.
// Exit status 2 when FILE cannot be opened or MARKER cannot be created.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && argc != 4) return 2;
  long seconds = argc == 4 ? std::wcstol(argv[3], nullptr, 10) : 120;
  HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  HANDLE marker = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 2;
  CloseHandle(marker);
  for (long waited = 0; waited < seconds * 1000; waited += 50) {
    if (GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES) break;
    Sleep(50);
  }
  CloseHandle(file);
  return 0;
}
