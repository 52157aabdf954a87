#include "audit/checks.h"
#include "audit/run_context.h"

namespace audit {

namespace {

void append(audit_items& to, audit_items from)
{
    for (audit_item& item : from)
        to.push_back(std::move(item));
}

} // namespace

audit_report run_audit()
{
    audit_report report;
    report.context = current_context();
    for (audit_items (*check)() : {check_processes, check_protection_services, check_client_services, check_adapters,
                                   check_driver_packages, check_install_folder, check_client_keys,
                                   check_user_profile_keys, check_installer_registration, check_shortcuts,
                                   check_user_profile_shortcuts, check_registered_products})
        append(report.items, check());
    return report;
}

} // namespace audit
