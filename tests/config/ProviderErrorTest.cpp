#include "config/ProviderError.h"

#include "config/XMLAccumulator.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProviderErrorList, XmlForm) {
  ProviderErrorList list;
  std::string out = "keep";
  list.AppendXml(out);
  EXPECT_EQ(out, "keep");  // nothing for empty lists
  EXPECT_TRUE(list.IsEmpty());

  ProviderError plain("E_NOPARAMS");
  ProviderError withParameters("E_FILE");
  withParameters.AddParameter("path", "a<b.xml");
  withParameters.AddParameter("code", "5");
  EXPECT_EQ(withParameters.Parameters(), (std::vector<std::string>{"path", "a<b.xml", "code", "5"}));

  list.AddGetError(withParameters);
  out.clear();
  list.AppendXml(out);
  EXPECT_EQ(out,
            "<providererrorlist><geterrors><providererror><stringid>E_FILE</stringid>"
            "<parameters><path>a&lt;b.xml</path><code>5</code></parameters></providererror>"
            "</geterrors></providererrorlist>");

  list.AddPostError(plain);
  list.AddPostError(ProviderError("E_SECOND"));
  out.clear();
  list.AppendXml(out);
  EXPECT_EQ(out,
            "<providererrorlist><posterrors><providererror><stringid>E_NOPARAMS</stringid></providererror>"
            "<providererror><stringid>E_SECOND</stringid></providererror></posterrors>"
            "<geterrors><providererror><stringid>E_FILE</stringid>"
            "<parameters><path>a&lt;b.xml</path><code>5</code></parameters></providererror>"
            "</geterrors></providererrorlist>");

  // Written into the current element of a reply being built.
  XMLAccumulator xml;
  xml.OpenElement("reply");
  list.WriteXml(xml);
  xml.AddElement("result", "ok");
  std::string reply;
  xml.GetXml(reply, -1);
  const std::string start = "<reply><providererrorlist>";
  const std::string end = "</providererrorlist><result>ok</result></reply>";
  ASSERT_GT(reply.size(), start.size() + end.size());
  EXPECT_EQ(reply.substr(0, start.size()), start);
  EXPECT_EQ(reply.substr(reply.size() - end.size()), end);

  list.Clear();
  EXPECT_TRUE(list.IsEmpty());
  XMLAccumulator untouched;
  list.WriteXml(untouched);
  EXPECT_TRUE(untouched.Document()->Children().empty());
}

}  // namespace
