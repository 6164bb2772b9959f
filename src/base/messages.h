// Every text that a user can see, in one place. They are fixed, and German but for the fallback
// box: the boxes' captions and texts, the failures' kind names and their message templates, in
// which each %s is filled in order.
#pragma once

// The failure report's box: the caption, and the text with the kind name, the module, the code
// location (%p, 16 hexadecimal digits), the message and the full stop that may end it.
inline constexpr char16_t kReportCaption[] = u"Anwendungsfehler";
inline constexpr char16_t kReportTemplate[] = u"Exception %s in Modul %s bei %p.\r\n%s%s\r\n";

// The fallback box, for what is no failure of the run: the exit status and the address go into
// the blanks and the zeros.
inline constexpr char kFallbackCaption[] = "Error";
inline constexpr char kFallbackTemplate[] = "Runtime error     at 0000000000000000";

// The NC program file: the open and create failures name the absolute path and end with the
// system's own text for the reason.
inline constexpr char kOpenFailureKind[] = "EFOpenError";
inline constexpr char16_t kOpenFailureTemplate[] = u"Datei %s kann nicht geöffnet werden. %s";
inline constexpr char kCreateFailureKind[] = "EFCreateError";
inline constexpr char16_t kCreateFailureTemplate[] = u"Datei \"%s\" kann nicht erstellt werden. %s";
inline constexpr char kWriteFailureKind[] = "EWriteError";
inline constexpr char16_t kWriteFailureMessage[] = u"Stream-Schreibfehler";
inline constexpr char16_t kRestoreFailureTemplate[] =
    u"Stream-Schreibfehler. Datei %s konnte nicht wiederhergestellt werden und ist möglicherweise "
    u"unvollständig";
inline constexpr char16_t kRestoreFailureBackupTemplate[] =
    u"Stream-Schreibfehler. Datei %s konnte nicht wiederhergestellt werden und ist möglicherweise "
    u"unvollständig; der alte Inhalt liegt vollständig in %s";
/// The write failure when the new content is whole in the file but the system could not confirm
/// that it is on disk: a power cut could still take it back.
inline constexpr char16_t kNotYetLastingTemplate[] =
    u"Stream-Schreibfehler. Datei %s enthält den neuen Inhalt, der aber möglicherweise noch nicht "
    u"vor einem Stromausfall sicher ist";
/// The reason of the create failure when the file was changed by someone else between the load
/// and the save: the save then writes nothing.
inline constexpr char16_t kChangedMeanwhileReason[] =
    u"Die Datei wurde seit dem Lesen von einem anderen Programm geändert; es wurde nichts "
    u"geschrieben";
inline constexpr char kReadFailureKind[] = "EReadError";
inline constexpr char16_t kReadFailureMessage[] = u"Stream-Lesefehler";
inline constexpr char16_t kTooLargeTemplate[] = u"Datei %s ist zu groß";
inline constexpr char kEncodingFailureKind[] = "EEncodingError";
inline constexpr char16_t kDecodeFailureMessage[] =
    u"Keine Zuordnung für Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden";
inline constexpr char16_t kCodePageFailureMessage[] = u"Ungültige Codeseite";
/// The reason given for a path that names no regular file (a FIFO, a socket, a device), where
/// the system has no text of its own for it.
inline constexpr char16_t kNotARegularFile[] = u"Keine reguläre Datei";

// The memory failure.
inline constexpr char kOutOfMemoryKind[] = "EOutOfMemory";
inline constexpr char16_t kOutOfMemoryMessage[] = u"Zu wenig Arbeitsspeicher";
