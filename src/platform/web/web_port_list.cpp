#include "platform/web/web_port_list.h"

#include "platform/system_port_names.h"

std::vector<std::string> webPortList(const std::vector<std::string> &browserNames) {
    std::vector<std::string> productNames;
    for (const std::string &name : browserNames) productNames.push_back(productNameOf(name, isLoopbackPortName(name)));
    return productNames;
}
