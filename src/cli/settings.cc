#include "cli/settings.h"

int g_verbose = 0;
int g_silent = 0;
int32_t g_precision = -1;
Review g_review = Review::none;
int g_recursive = 0;
int g_quiet = 0;
int g_brief = 0;
int g_stable = 0;
int g_github = 0;
int g_plain = 0;
unsigned g_only = 0;
int g_colour = 0;
int g_null = 0;
std::vector<std::string> g_excludes;
ColourWhen g_colourWhen = ColourWhen::automatic;
unsigned g_given = 0;
ConfigSource g_configSource = ConfigSource::nearest;
std::string g_configFile;
std::optional<std::string> g_stdinName;
int g_gitFilter = 0;
std::optional<std::string> g_showSettings;

RunSettings run_settings() {
    RunSettings settings;
    settings.rules = CleanRules{g_precision, g_stable != 0, g_plain != 0, g_only};
    settings.review = g_review;
    settings.verbose = g_verbose != 0;
    settings.silent = g_silent != 0;
    settings.quiet = g_quiet != 0;
    settings.brief = g_brief != 0;
    settings.github = g_github != 0;
    settings.colour = g_colour != 0;
    settings.null = g_null != 0;
    return settings;
}
