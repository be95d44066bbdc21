#pragma once
// Reads a stored message into the engine's message object, whatever form it
// was stored in, so that the window, printing, the page and the tool all
// see one kind of message. Plain C++ over the engine: no Qt here.
#include <string>

class TMailMessage2000;
struct TMessageSecurity;

// Loads the file into message, replacing its content, as
// TMailPart::LoadFromFile does for an Internet message. Raises the engine's
// errors when the file cannot be read.
void LoadMessageFile(TMailMessage2000& message, const std::string& fileName);
// The same, and what its signatures and encryption come to: an encrypted
// message the user's keys open is loaded decrypted (only into memory),
// inline PGP signed text without its armour.
void LoadMessageFile(TMailMessage2000& message, const std::string& fileName, TMessageSecurity& security);
