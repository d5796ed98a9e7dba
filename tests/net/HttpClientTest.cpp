#include "net/HttpClient.h"
