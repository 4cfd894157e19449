#pragma once
// The main window and what its two buttons do.

#include <string>

class QWidget;

// Fills `window` with the two buttons and connects them. Both handlers refer
// to `token`, the one current token, so a token saved during the run is the
// one later sends use.
void build_main_window(QWidget& window, std::string& token);

// "Token Girin": asks for a token, saves it and then scans the replays.
void ask_for_token(std::string& token);

// "Replay Gönderin": scans the replays when a token is at hand.
void send_replays(const std::string& token);

// Whether "../replay" and "../th10.exe" exist; tells the player which one is
// missing when one is.
bool game_files_present();
