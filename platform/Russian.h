#pragma once

class QCoreApplication;

// Qt's own texts (standard buttons, its dialogs, the command line's help and
// errors) in Russian, whatever language the session runs in.
void speakRussian(QCoreApplication &application);
