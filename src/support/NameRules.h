// Which prefixes and instances may name an entry of the TWAIN directory, and
// the lead-byte care of texts that the runtime's multibyte routines walk.
//
// Windows reads a path component its own way: it drops trailing dots and
// blanks, collapses "." and "..", treats * ? " < > | as wildcards or refuses
// them, and takes CON, NUL, COM1 and the like (with any extension) for devices.
// A name it would read as another one must never reach a file operation.
#pragma once

// True when the text ends in a lead byte of the code page without its trail
// byte: the runtime's multibyte routines take the terminator for that trail
// byte and walk on past the end.
bool EndsInLoneLeadByte(const char *psz);
// Cuts such a lead byte off; true when one was cut.
bool DropLoneLeadByte(char *psz);

// A prefix every path is built from: no separator, drive colon, wildcard,
// quote, angle bracket, bar or control character (a trail byte is none of
// them, but a lead byte must be followed by a valid trail byte), not dots
// alone, no device name before its first dot (trailing blanks dropped), and no
// lone lead byte at its end. The empty prefix is safe.
bool IsSafePrefix(const char *pszPrefix);

// True when <prefix><instance>, the name of an instance's directory, is read by
// Windows as written: not empty, none of the characters a safe prefix refuses,
// not ending in a dot or a blank, no device name, no lone lead byte at its end.
// The empty instance of an ordinary prefix is usable.
bool IsUsableInstance(const char *pszPrefix, const char *pszInstance);
