// inet_ntoa for non-Windows builds: the C library's own, whose result lies in
// a buffer of the calling thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
