// Input of the binding generator (soapcpp2), run at build time: WS-Discovery
// April 2005 with WS-Addressing August 2004, plus the namespace of the remote
// discovery service ("tdn"), whose device type the Probe asks for.
#import "wsdd10.h"

//gsoap tdn schema namespace: http://www.onvif.org/ver10/network/wsdl
