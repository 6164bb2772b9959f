#include "files/file_failures.h"

#include "files/native_file.h"
#include "report/failure.h"

void RaiseOpenFailure(const Text& path, TextView system_text) {
  RaiseFailure("EFOpenError", FillTemplate(u"Datei %s kann nicht geöffnet werden. %s",
                                           {AbsolutePath(path), TrimSystemText(system_text)}));
}

void RaiseCreateFailure(const Text& path, TextView system_text) {
  RaiseFailure("EFCreateError", FillTemplate(u"Datei \"%s\" kann nicht erstellt werden. %s",
                                             {AbsolutePath(path), TrimSystemText(system_text)}));
}

void RaiseWriteFailure() { RaiseFailure("EWriteError", u"Stream-Schreibfehler"); }

void RaiseReadFailure() { RaiseFailure("EReadError", u"Stream-Lesefehler"); }

void RaiseTooLargeFailure(const Text& path) {
  RaiseFailure("EReadError", FillTemplate(u"Datei %s ist zu groß", {AbsolutePath(path)}));
}

void RaiseDecodeFailure() {
  RaiseFailure("EEncodingError",
               u"Keine Zuordnung für Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden");
}

void RaiseCodePageFailure() { RaiseFailure("EEncodingError", u"Ungültige Codeseite"); }

TextView TrimSystemText(TextView text) {
  while (!text.empty() && (text.back() <= u' ' || text.back() == u'.')) text.remove_suffix(1);
  return text;
}
