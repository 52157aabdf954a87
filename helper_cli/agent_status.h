// The SentinelOne agent's status, asked of its automation object "SentinelHelper.1".
#pragma once

#include <string>

// Fills `status` with the agent's GetAgentStatusJSON text (UTF-8) and prints it. Each failure prints its one
// line and returns false. COM must be initialised on the calling thread.
bool query_agent_status(std::string& status);
