#include "vexaCommandLineParser.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <sstream>

vexaCommandLineParser::vexaCommandLineParser() : m_ErrorStream(&std::cerr) {}

void vexaCommandLineParser::setArgumentPrefix(const std::string &longPrefix, const std::string &shortPrefix)
{
  m_LongPrefix = longPrefix;
  m_ShortPrefix = shortPrefix;
}

void vexaCommandLineParser::setCategory(const std::string &category) { m_Category = category; }
void vexaCommandLineParser::setTitle(const std::string &title) { m_Title = title; }
void vexaCommandLineParser::setDescription(const std::string &description) { m_Description = description; }
void vexaCommandLineParser::setContributor(const std::string &contributor) { m_Contributor = contributor; }
void vexaCommandLineParser::beginGroup(const std::string &description) { m_CurrentGroup = description; }
void vexaCommandLineParser::endGroup() { m_CurrentGroup.clear(); }
void vexaCommandLineParser::setErrorStream(std::ostream *stream) { m_ErrorStream = stream ? stream : &std::cerr; }

void vexaCommandLineParser::addArgument(const std::string &longName,
                                        const std::string &shortName,
                                        Type type,
                                        const std::string &label,
                                        const std::string &description,
                                        const us::Any &defaultValue,
                                        bool optional,
                                        bool /*ignoreRest*/,
                                        bool deprecated)
{
  m_Options.push_back(
    Option{longName, shortName, type, label, description, defaultValue, optional, deprecated, m_CurrentGroup});
}

const vexaCommandLineParser::Option *vexaCommandLineParser::Find(const std::string &token,
                                                                 std::string *inlineValue,
                                                                 bool *hasInlineValue) const
{
  *hasInlineValue = false;
  // the long prefix is tried first: "--" also starts with the short prefix "-"
  const std::pair<const std::string *, bool> prefixes[] = {{&m_LongPrefix, true}, {&m_ShortPrefix, false}};
  for (const auto &p : prefixes)
  {
    const std::string &prefix = *p.first;
    if (prefix.empty() || token.size() <= prefix.size() || token.compare(0, prefix.size(), prefix) != 0)
      continue;
    std::string name = token.substr(prefix.size());
    const auto eq = name.find('=');
    if (eq != std::string::npos)
    {
      *inlineValue = name.substr(eq + 1);
      *hasInlineValue = true;
      name.erase(eq);
    }
    for (const Option &o : m_Options)
      if ((p.second ? o.longName : o.shortName) == name && !name.empty())
        return &o;
    *hasInlineValue = false;
  }
  return nullptr;
}

bool vexaCommandLineParser::Convert(const Option &option, const std::string &text, us::Any &value)
{
  switch (option.type)
  {
    case Int:
    {
      errno = 0;
      char *end = nullptr;
      const long v = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        return false;
      value = us::Any(static_cast<int>(v));
      return true;
    }
    case Float:
    {
      // numbers on command lines use the "C" conventions whatever the locale
      std::istringstream in(text);
      in.imbue(std::locale::classic());
      float v = 0;
      in >> v;
      if (text.empty() || in.fail() || !in.eof() || !std::isfinite(v))
        return false;
      value = us::Any(v);
      return true;
    }
    case Bool:
      if (text == "true" || text == "1" || text == "on")
        value = us::Any(true);
      else if (text == "false" || text == "0" || text == "off")
        value = us::Any(false);
      else
        return false;
      return true;
    default:
      value = us::Any(text);
      return true;
  }
}

bool vexaCommandLineParser::IsOption(const std::string &token) const
{
  std::string value;
  bool hasValue = false;
  return Find(token, &value, &hasValue) != nullptr;
}

std::map<std::string, us::Any> vexaCommandLineParser::Fail(const std::string &message, bool *ok)
{
  m_Error = message;
  if (ok)
    *ok = false;
  (*m_ErrorStream) << "Error parsing arguments: " << message << "\n\n" << helpText() << std::flush;
  return {};
}

std::map<std::string, us::Any> vexaCommandLineParser::parseArguments(int argc, char **argv, bool *ok)
{
  std::vector<std::string> arguments;
  for (int i = 1; i < argc && argv; ++i)
    arguments.emplace_back(argv[i] ? argv[i] : "");
  return parseArguments(arguments, ok);
}

std::map<std::string, us::Any> vexaCommandLineParser::parseArguments(const std::vector<std::string> &arguments,
                                                                     bool *ok)
{
  m_Error.clear();
  std::map<std::string, us::Any> result;
  for (std::size_t i = 0; i < arguments.size(); ++i)
  {
    const std::string &token = arguments[i];
    std::string inlineValue;
    bool hasInlineValue = false;
    const Option *option = Find(token, &inlineValue, &hasInlineValue);
    if (!option)
      return Fail("unknown argument \"" + token + "\"", ok);

    us::Any value;
    if (option->type == Bool && !hasInlineValue)
    {
      value = us::Any(true);
    }
    else
    {
      std::string text;
      if (hasInlineValue)
        text = inlineValue;
      else if (i + 1 < arguments.size() && !IsOption(arguments[i + 1]))
        text = arguments[++i];
      else
        return Fail("argument \"" + token + "\" needs a value", ok);
      if (!Convert(*option, text, value))
      {
        const char *kind = option->type == Int     ? "a whole number"
                           : option->type == Float ? "a number"
                                                   : "true or false";
        return Fail("value \"" + text + "\" of argument \"" + token + "\" is not " + kind, ok);
      }
    }
    result[option->longName] = value;
  }

  for (const Option &o : m_Options)
  {
    if (result.count(o.longName))
      continue;
    if (!o.defaultValue.Empty())
      result[o.longName] = o.defaultValue;
    else if (!o.optional)
      return Fail("missing required argument " + m_LongPrefix + o.longName, ok);
  }
  if (ok)
    *ok = true;
  return result;
}

std::string vexaCommandLineParser::helpText() const
{
  std::ostringstream s;
  if (!m_Title.empty())
    s << m_Title << "\n";
  if (!m_Description.empty())
    s << m_Description << "\n";
  if (!m_Category.empty())
    s << "Category: " << m_Category << "\n";
  if (!m_Contributor.empty())
    s << "Contributor: " << m_Contributor << "\n";
  std::string group = "\x01"; // no group printed yet
  for (const Option &o : m_Options)
  {
    if (o.group != group)
    {
      group = o.group;
      s << "\n" << (group.empty() ? std::string("Options") : group) << ":\n";
    }
    s << "  " << m_LongPrefix << o.longName;
    if (!o.shortName.empty())
      s << ", " << m_ShortPrefix << o.shortName;
    s << "  " << o.label;
    if (!o.description.empty())
      s << ": " << o.description;
    if (!o.defaultValue.Empty())
      s << " (default: " << o.defaultValue.ToString() << ")";
    if (!o.optional)
      s << " [required]";
    if (o.deprecated)
      s << " [deprecated]";
    s << "\n";
  }
  return s.str();
}
