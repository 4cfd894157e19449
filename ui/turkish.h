#pragma once
// Qt's standard texts (the boxes' and the token dialog's buttons) in Turkish,
// like every other text the player sees.

class QCoreApplication;

// Installs Qt's Turkish translation, built into the program, in `app`.
// Returns false when it cannot be loaded; the texts then stay in English.
bool load_turkish_texts(QCoreApplication& app);
