// The address book as the window loads and saves it: the file operations
// of address_book.cpp with the window's messages for their failures.
#include "app/address_book.h"
#include "app/dialogs.h"

void LoadAddressBook() {
    if (ReadAddressBookFile() == AddressBookIo::Failed) {
        AppDialogs().Confirm(nullptr, QStringLiteral("File Error"),
                             QStringLiteral("Can't perform one of the following file operations: Open, Seek, Read, Close."));
    }
}

void SaveAddressBook() {
    if (WriteAddressBookFile() != AddressBookIo::Ok) {
        AppDialogs().Inform(nullptr, QString(), QStringLiteral("Open File Error"));
    }
}
