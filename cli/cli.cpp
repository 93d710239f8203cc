#include "cli/cli.h"

#include "cli/args.h"
#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "db/base/error.h"

namespace cli {

int RunCli(const std::vector<std::string>& args, Environment& env) {
  try {
    return RunCommand(ParseArguments(args), env);
  } catch (const Failure& f) {
    *env.err << "rowsifter-cli: " << f.what() << '\n';
    return f.code();
  } catch (const db::Error& e) {
    *env.err << "rowsifter-cli: " << e.description() << '\n';
    return exitcode::kDatabaseError;
  }
}

}  // namespace cli
