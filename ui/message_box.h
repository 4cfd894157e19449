#pragma once
// The tool's message boxes: modal, no parent window, one OK button, no default button.

class QString;

// An error box titled "Hata".
void show_error(const QString& text);

// An information box with the given title.
void show_information(const QString& title, const QString& text);
