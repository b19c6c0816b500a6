// The report line of a problem, in the form editors and build logs link to their source.
#include "cli/check/problem.h"

std::string formatProblem(const Problem& problem) {
    std::string line = problem.path;
    if (problem.line > 0) line += ":" + std::to_string(problem.line);
    line += problem.severity == Severity::Error ? ": error: " : ": warning: ";
    line += problem.text;
    return line;
}
