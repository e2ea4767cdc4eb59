#include "stdsoap2.h"

// The namespace table of the discovery context, ended by an empty entry. The
// SOAP run-time library also takes the global of this name as every new
// context's default, so it is the only table in use. SOAP 1.2 is written
// (first entry); SOAP 1.1 replies are read as well.
SOAP_NMAC struct Namespace namespaces[] = {
    {"SOAP-ENV", "http://www.w3.org/2003/05/soap-envelope", "http://schemas.xmlsoap.org/soap/envelope/", nullptr},
    {"SOAP-ENC", "http://www.w3.org/2003/05/soap-encoding", "http://schemas.xmlsoap.org/soap/encoding/", nullptr},
    {"xsi", "http://www.w3.org/2001/XMLSchema-instance", "http://www.w3.org/*/XMLSchema-instance", nullptr},
    {"xsd", "http://www.w3.org/2001/XMLSchema", "http://www.w3.org/*/XMLSchema", nullptr},
    {"wsa", "http://schemas.xmlsoap.org/ws/2004/08/addressing", nullptr, nullptr},
    {"wsdd", "http://schemas.xmlsoap.org/ws/2005/04/discovery", nullptr, nullptr},
    {"tdn", "http://www.onvif.org/ver10/network/wsdl", nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};
