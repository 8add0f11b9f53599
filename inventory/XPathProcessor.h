// XPath 1.0 evaluator over TinyXML trees, as the inventory page uses it.
//
//   XPath::xpath_processor processor(document.RootElement(), expression);
//   std::string text = processor.ComputeString();       // expressions not starting with "/"
//   unsigned total = processor.ComputeNodeSet();         // expressions starting with "/"
//   for (unsigned i = 0; i < total; ++i) {
//     if (TiXmlNode* node = processor.GetNode(i)) ...    // null for attribute entries
//   }
//
// Every computation evaluates the whole expression afresh over the tree as
// it is then. The base node is seen as the only child of a synthetic
// element named "root" (so "/" plus the root element's name selects the
// root element); the element is the processor's own, and the tree is only
// read: neither its links nor its user-data slots are written. Processors
// on several threads may therefore evaluate over one tree at the same time,
// as long as nobody changes the tree meanwhile. The synthetic element is
// never part of a result ("/" and "/inv/.." give no entries, though
// name(/inv/..) is "root"). No exception leaves the processor: a
// failed computation yields the invalid value ("false", 0, 0.0, false, an
// empty node set) and GetErrorKind() says why. A computation that needs
// more than kWorkBudget steps stops with execution code WorkBudget.
//
// Where this evaluator differs from the W3C recommendation (on purpose):
// an element's string value is its name; "//" is the descendant-or-self
// axis of the next step; a numeric predicate keeps the nodes whose place
// among their parent's element children (of the same name when the step
// tests a name) equals the number; last() counts all element children of
// the candidate's parent; position() and last() work only inside a
// predicate (and on the base node before the first predicate ran);
// operators on two operands of integer kinds (anything but a number with
// fraction) use integer arithmetic; "!=" is the negation of "=".
#pragma once

#include "inventory/XPathErrors.h"
#include "inventory/XPathIndex.h"
#include "inventory/XPathResult.h"
#include "inventory/XPathStream.h"
#include "inventory/XPathTree.h"

#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace XPath {

class IndexedTest;

// Why the last computation failed.
enum class ErrorKind {
  None,
  Syntax,     // the expression does not decode (GetErrorText says where)
  Overflow,   // decoding tried more than 10000 rules
  Execution,  // an execution check failed (GetExecutionCode names it)
  Stack,      // the actions did not leave exactly one value
};

class xpath_processor : public xpath_stream {
 public:
  // `base` is the node the expression is evaluated on (the page passes its
  // document's root element); it must stay alive while the processor is
  // used. The expression is copied. With no base or no expression every
  // computation fails with execution code 1. An index built on `base`
  // (see XPathIndex.h) makes steps over large trees cheap; results are the
  // same with and without it.
  xpath_processor(TiXmlNode* base, const char* expression, const DocumentIndex* index = nullptr);
  ~xpath_processor() override;
  xpath_processor(const xpath_processor&) = delete;
  xpath_processor& operator=(const xpath_processor&) = delete;

  // The value converted to a string: numbers without trailing zeros ("2.5",
  // "3"), NaN and infinities as "NaN", "Infinity", "-Infinity".
  std::string ComputeString();
  // Held to the 64-bit range.
  std::int64_t ComputeInteger();
  bool ComputeBoolean();
  double ComputeNumber();
  // The number of entries when the value is a node set, else 0. The set
  // stays available to GetNode and GetAttribute until the next computation.
  unsigned ComputeNodeSet();
  // Entry `index` of the last node set when it exists and is a node (an
  // element, text or comment), else null.
  TiXmlNode* GetNode(unsigned index) const;
  // Entry `index` of the last node set when it exists and is an attribute.
  TiXmlAttribute* GetAttribute(unsigned index) const;

  ErrorKind GetErrorKind() const { return errorKind_; }
  // The failed check of an execution error (ExecutionCode), else 0.
  int GetExecutionCode() const { return executionCode_; }
  // Where decoding failed, for a syntax error.
  const std::string& GetErrorText() const { return errorText_; }
  // The value of the last computation (invalid after a failure).
  const ExpressionResult& GetResult() const { return result_; }

  // The work one computation may do, in steps: a node read from the
  // document index or produced by a location step, a node reached through
  // the tree's links (four steps: such nodes lie scattered over the heap),
  // a predicate run on one candidate (each instruction of it). Counted, not
  // timed, so a computation passes or stops alike on every machine. Queries that visit the nodes of a large inventory a few
  // times stay far below it (a million-node document costs a few million
  // steps per pass); one that walks the document once per node of it does
  // not end in any useful time and stops here instead.
  static constexpr std::uint64_t kWorkBudget = 50000000;
  // The steps the last computation took.
  std::uint64_t GetWork() const { return work_; }

  // The decoder's two operations, on the action list.
  void action(int rule, int sub_rule, int number, const std::string& text) override;
  unsigned get_action_counter() const override;

 private:
  enum class Target { String, Integer, Boolean, Number, NodeSet };

  enum class Op : std::uint8_t {
    Context, Root, StepBegin, StepEnd, PredicateBegin, PredicateEnd,
    Variable, Literal, Integer, Number, FunctionBegin, FunctionEnd,
    Or, And, Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual,
    Add, Subtract, Multiply, Divide, Modulo, Negate, Union,
  };

  struct Action {
    int rule;
    int subRule;
    int number;
    std::string text;
  };

  struct Instruction {
    Op op = Op::Context;
    int axis = 0;
    int test = 0;
    std::string_view text;     // name test, literal, variable or function name (in actions_)
    std::int64_t integer = 0;  // Integer
    double number = 0;         // Number
    std::size_t match = 0;     // begin: index of its end; end: index of its begin
    int function = 0;
    int arguments = 0;
    bool constant = false;     // a predicate that is one number literal
    std::uint32_t attributeId = 0;  // attribute name step: the name's id in the index, 0 none
    std::int64_t constantValue = 0;
  };

  // How a step's first predicate can be handled while the nodes are produced.
  struct StepPlan {
    bool byName = false;     // the step tests a name: places count same-named siblings
    bool positions = false;  // predicates follow: note each candidate's place
    bool constant = false;   // the first predicate is a number literal
    std::int64_t wanted = 0;
    bool anyCandidate = false;
  };

  void Evaluate(Target target);
  void Convert(Target target);
  void Prepare();
  std::size_t CloseBlock(Op begin, int recordedBegin);
  void PrepareStep(Instruction& ins, std::size_t& i);
  static void PreparePrimary(Instruction& ins, const Action& a);
  static Op OperatorOf(const Action& a);
  void MarkConstantPredicates();
  void Run(std::size_t begin, std::size_t end);
  std::size_t ExecuteStep(std::size_t index);
  std::size_t ExecuteFilter(std::size_t index);
  void ApplyPredicate(std::size_t index, NodeSet& set, bool byName, bool stepPositions);
  // The id of the first attribute a predicate's program names, 0 for none
  // or without the index.
  std::uint32_t PredicateAttribute(std::size_t index) const;
  std::uint32_t PlaceOf(const NodeSet::Entry& entry, bool byName, bool stepPositions);
  void ClearContext();
  // Counts `steps` of work. Loops only count (checking inside them made
  // them measurably slower); the budget is checked after each step and
  // each predicate, and one step does at most a few passes over the
  // document.
  void Count(std::uint64_t steps) { work_ += steps; }
  // Counts `steps` of work; past the budget the evaluation stops.
  void Charge(std::uint64_t steps) {
    work_ += steps;
    if (work_ > kWorkBudget) OverBudget();
  }
  // Out of line: keeps the throw out of the code that charges.
  [[noreturn]] static void OverBudget();

  // Axes (XPathSteps.cpp). Those returning true applied a constant first
  // predicate themselves.
  bool Produce(const Instruction& step, NodeSet& in, NodeSet& out, StepPlan& plan);
  bool ChildAxis(const Instruction& step, const NodeSet& in, NodeSet& out, StepPlan& plan);
  bool DescendantAxis(const Instruction& step, NodeSet& in, NodeSet& out, StepPlan& plan, bool orSelf);
  // The same two over the document index.
  bool IndexedChildAxis(const Instruction& step, const NodeSet& in, NodeSet& out, StepPlan& plan);
  bool IndexedDescendantAxis(const Instruction& step, const NodeSet& in, NodeSet& out, StepPlan& plan,
                             bool orSelf);
  bool ScanChildren(const IndexedTest& matches, const NodeSet& in, NodeSet& out, StepPlan& plan);
  // Notes the index numbers of the context's elements; false when one is
  // not a node of the index.
  bool NumberContext(const NodeSet& in);
  std::uint64_t SubtreeSpans() const;
  void AttributeAxis(const Instruction& step, const NodeSet& in, NodeSet& out);
  void SelfAxis(const Instruction& step, const NodeSet& in, NodeSet& out);
  void ParentAxis(const Instruction& step, const NodeSet& in, NodeSet& out);
  void AncestorAxis(const Instruction& step, const NodeSet& in, NodeSet& out, bool orSelf);
  void SiblingAxis(const Instruction& step, const NodeSet& in, NodeSet& out, bool following);
  void FollowingAxis(const Instruction& step, NodeSet& in, NodeSet& out);
  void PrecedingAxis(const Instruction& step, const NodeSet& in, NodeSet& out);

  // Operators and functions (XPathFunctions.cpp).
  void Binary(Op op);
  bool Equal(const ExpressionResult& left, const ExpressionResult& right);
  void Union();
  static int FunctionId(const std::string& name);
  void CheckFunction(const Instruction& call) const;
  void CallFunction(const Instruction& call);
  // The arguments of one call: the top `count` values of the stack.
  struct Arguments {
    std::size_t first;
    std::size_t count;
  };
  ExpressionResult& Argument(const Arguments& args, std::size_t i) { return *stack_[args.first + i]; }
  ExpressionResult& FunctionResult(const Arguments& args);
  // functionText_ becomes the result.
  void TextResult(const Arguments& args);
  void ContextFunction(int function, const Arguments& args);
  void NameOf(const Arguments& args);
  void NormalizeSpace(const Arguments& args);
  void Substring(const Arguments& args);
  void Sum(const Arguments& args);

  // The value stack. Slots are kept, with their buffers, across pushes.
  ExpressionResult& Push();
  ExpressionResult& Top(std::size_t below = 0);
  void Pop(std::size_t count = 1);

  TiXmlNode* base_;
  const DocumentIndex* givenIndex_;
  const DocumentIndex* index_ = nullptr;  // the given one, while it fits the tree
  TiXmlElement rootElement_;
  std::vector<Action> actions_;
  std::vector<Instruction> program_;
  std::vector<std::pair<std::size_t, std::size_t>> openBlocks_;  // Prepare: (instruction, action)
  std::vector<std::unique_ptr<ExpressionResult>> stack_;
  std::size_t depth_ = 0;
  ExpressionResult result_;
  ErrorKind errorKind_ = ErrorKind::None;
  std::uint64_t work_ = 0;
  int executionCode_ = 0;
  std::string errorText_;

  // Converted results of the last computation.
  std::string stringValue_;
  std::int64_t integerValue_ = 0;
  bool booleanValue_ = false;
  double numberValue_ = 0;

  // State of one evaluation.
  TiXmlElement* root_ = nullptr;        // the synthetic root, rootElement_ while evaluating
  TreeView view_;
  TiXmlNode* pathContext_ = nullptr;    // where relative paths start
  std::uint32_t pathContextNumber_ = 0;  // its number in the index, 0 unknown
  TiXmlNode* contextElement_ = nullptr;  // for position(), last(), text()
  bool byName_ = false;
  std::uint32_t contextPosition_ = 0;   // the context element's place when known
  DocumentOrder order_;
  SiblingIndex siblings_;

  // Scratch space kept between uses.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> counters_;
  std::vector<TiXmlNode*> backHalf_;
  std::vector<std::uint32_t> contextNumbers_;
  std::vector<bool> contextMembers_;
  std::vector<char> acceptedNames_;
  PointerSet visited_;
  std::vector<TiXmlNode*> ContextParents(const NodeSet& in);
  PointerSet parents_;
  PointerSet contextNodes_;
  std::string scratchA_;
  std::string scratchB_;
  std::string functionText_;
};

}  // namespace XPath
