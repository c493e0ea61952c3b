#ifndef vexaCommandLineParser_h
#define vexaCommandLineParser_h

#include "VexaCommandLineExports.h"

#include <usAny.h>

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

/**
 * Typed command-line options in groups.
 *
 *   vexaCommandLineParser parser;
 *   parser.setArgumentPrefix("--", "-");
 *   parser.beginGroup("Required parameters");
 *   parser.addArgument("input", "i", vexaCommandLineParser::File, "Input", "input file", us::Any(), false);
 *   parser.endGroup();
 *   std::map<std::string, us::Any> args = parser.parseArguments(argc, argv);
 *   if (args.empty()) return EXIT_FAILURE; // the parser said why on standard error
 *
 * A value is given as the next token ("--input a.nrrd", "-i a.nrrd") or after
 * an equals sign ("--input=a.nrrd"); a bool option is true when present. The
 * result maps each long name given (or having a default) to a us::Any of the
 * option's type: std::string for texts, files and directories, bool, int,
 * float. Any failure (unknown option, missing value, a value that is not a
 * whole number or a number, a missing required option) gives an empty map, a
 * message and the help text on standard error.
 */
class VEXACOMMANDLINE_EXPORT vexaCommandLineParser
{
public:
  enum Type
  {
    String = 0,
    Bool = 1,
    StringList = 2,
    Int = 3,
    Float = 4,
    Directory = 5,
    OutputDirectory = 6,
    OutputFile = 7,
    File = 8,
    Image = 9
  };

  vexaCommandLineParser();

  void setArgumentPrefix(const std::string &longPrefix, const std::string &shortPrefix);
  void setCategory(const std::string &category);
  void setTitle(const std::string &title);
  void setDescription(const std::string &description);
  void setContributor(const std::string &contributor);

  /** Options added from here on belong to the group; groups only matter to the help text. */
  void beginGroup(const std::string &description);
  void endGroup();

  /**
   * Adds an option. An empty defaultValue means none; a non-optional option
   * must be given. ignoreRest and deprecated are accepted for compatibility;
   * a deprecated option is still parsed and named as such in the help text.
   */
  void addArgument(const std::string &longName,
                   const std::string &shortName,
                   Type type,
                   const std::string &label,
                   const std::string &description = std::string(),
                   const us::Any &defaultValue = us::Any(),
                   bool optional = true,
                   bool ignoreRest = false,
                   bool deprecated = false);

  /** Parses argv[1..argc-1]; argv[0] is the program. ok (when given) tells success. */
  std::map<std::string, us::Any> parseArguments(int argc, char **argv, bool *ok = nullptr);
  std::map<std::string, us::Any> parseArguments(const std::vector<std::string> &arguments, bool *ok = nullptr);

  /** Why the last parse failed (empty after a successful one). */
  std::string errorString() const { return m_Error; }

  std::string helpText() const;

  /** Where failures are written; standard error unless changed (tests). */
  void setErrorStream(std::ostream *stream);

private:
  struct Option
  {
    std::string longName;
    std::string shortName;
    Type type;
    std::string label;
    std::string description;
    us::Any defaultValue;
    bool optional;
    bool deprecated;
    std::string group;
  };

  const Option *Find(const std::string &token, std::string *inlineValue, bool *hasInlineValue) const;
  bool IsOption(const std::string &token) const;
  bool Convert(const Option &option, const std::string &text, us::Any &value);
  std::map<std::string, us::Any> Fail(const std::string &message, bool *ok);

  std::string m_LongPrefix = "--";
  std::string m_ShortPrefix = "-";
  std::string m_Category, m_Title, m_Description, m_Contributor;
  std::string m_CurrentGroup;
  std::vector<Option> m_Options;
  std::string m_Error;
  std::ostream *m_ErrorStream;
};

#endif
