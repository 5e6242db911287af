// create service_object, create service_group, delete service_object, delete service_group.

#include "Commands.h"
#include "UsageText.h"

void CreateSvcObjHelp() { PrintLines({L"CreateSvcObjHelp()", L""}); }
void CreateServiceGroupHelp() { PrintLines({L"CreateServiceGroupHelp()", L""}); }
void DeleteSvcObjHelp() { PrintLines({L"DeleteSvcObjHelp()", L""}); }
void DeleteServiceGroupHelp() { PrintLines({L"DeleteServiceGroupHelp()", L""}); }
