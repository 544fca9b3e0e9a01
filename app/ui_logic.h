// Pure pieces of the main dialog's message handling.
#pragma once

constexpr unsigned kIdmAbout = 0x0010;

// System commands carry state in their low four bits: 0x0010..0x001F all mean About.
inline bool IsAboutCommand(unsigned commandId) { return (commandId & 0xFFF0) == kIdmAbout; }

// Where the icon of the minimised dialog is drawn: centred, signed division
// truncating toward zero (a client width of 0 with a 32-pixel icon gives -15).
inline int CentredIconOrigin(int clientExtent, int iconExtent) {
  return (clientExtent - iconExtent + 1) / 2;
}
