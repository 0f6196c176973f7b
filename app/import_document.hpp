// The XML property-list dictionary that `tolvan-prefs import` sends: read
// with a bound on its size, checked to be a dictionary with string keys
// that fits one request.
#ifndef TOLVAN_APP_IMPORT_DOCUMENT_HPP
#define TOLVAN_APP_IMPORT_DOCUMENT_HPP

#include <string>

#include "platform/cf/cf_dictionary.h"
#include "platform/cf/cf_ref.hpp"

namespace tolvan::app {

// The whole input of fd; false with the reason in *error, also when it is
// larger than the bound.
bool ReadImportDocument(int fd, std::string *document, std::string *error);

// The document's dictionary; empty with the reason in *error when the text
// is not a property-list dictionary with string keys that fits one request.
CFRef<CFDictionaryRef> ParseImportDocument(const std::string &document, std::string *error);

}  // namespace tolvan::app

#endif
