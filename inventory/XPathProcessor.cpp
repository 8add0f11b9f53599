#include "inventory/XPathProcessor.h"

#include <tinyxml.h>

#include <new>

namespace XPath {

xpath_processor::xpath_processor(TiXmlNode* base, const char* expression, const DocumentIndex* index)
    : xpath_stream(expression), base_(base), givenIndex_(index), rootElement_("root") {
  result_.Nodes().SetDocumentOrder(&order_);
}

xpath_processor::~xpath_processor() = default;

std::string xpath_processor::ComputeString() {
  Evaluate(Target::String);
  return stringValue_;
}

std::int64_t xpath_processor::ComputeInteger() {
  Evaluate(Target::Integer);
  return integerValue_;
}

bool xpath_processor::ComputeBoolean() {
  Evaluate(Target::Boolean);
  return booleanValue_;
}

double xpath_processor::ComputeNumber() {
  Evaluate(Target::Number);
  return numberValue_;
}

unsigned xpath_processor::ComputeNodeSet() {
  Evaluate(Target::NodeSet);
  return result_.Kind() == ResultKind::NodeSet ? result_.Nodes().Count() : 0;
}

TiXmlNode* xpath_processor::GetNode(unsigned index) const {
  return result_.Kind() == ResultKind::NodeSet ? result_.Nodes().GetNode(index) : nullptr;
}

TiXmlAttribute* xpath_processor::GetAttribute(unsigned index) const {
  return result_.Kind() == ResultKind::NodeSet ? result_.Nodes().GetAttribute(index) : nullptr;
}

void xpath_processor::action(int rule, int sub_rule, int number, const std::string& text) {
  actions_.push_back(Action{rule, sub_rule, number, text});
}

unsigned xpath_processor::get_action_counter() const { return static_cast<unsigned>(actions_.size()); }

void xpath_processor::Evaluate(Target target) {
  errorKind_ = ErrorKind::None;
  executionCode_ = 0;
  errorText_.clear();
  result_.Reset();
  work_ = 0;
  if (base_ == nullptr || !HasBytes()) {
    errorKind_ = ErrorKind::Execution;
    executionCode_ = ExecutionCode::NoBase;
    Convert(target);
    return;
  }
  try {
    // The tree is only read, through the view, so evaluations on other
    // threads may share it.
    root_ = &rootElement_;
    view_.Reset(base_, root_);
    index_ = givenIndex_ != nullptr && givenIndex_->Usable(base_) ? givenIndex_ : nullptr;
    order_.Reset(&view_, index_);
    siblings_.Reset(&view_, index_);
    actions_.clear();
    actions_.reserve(Bytes().size() / 2 + 4);
    decode();
    Prepare();
    depth_ = 0;
    pathContext_ = base_;
    pathContextNumber_ = index_ != nullptr ? 2 : 0;
    contextElement_ = IsElement(base_) ? base_ : nullptr;
    byName_ = false;
    contextPosition_ = 0;
    Run(0, program_.size());
    if (depth_ != 1) {
      errorKind_ = ErrorKind::Stack;
    } else {
      result_.Swap(*stack_[0]);
      if (result_.Kind() == ResultKind::NodeSet) {
        // The synthetic element is the evaluation's; no result may keep it.
        result_.Nodes().Remove(root_);
        if (result_.Nodes().GetOrder() == NodeSet::Order::Pending) result_.Nodes().Sort();
      }
      result_.Materialize();
      Convert(target);
    }
  } catch (const syntax_error& error) {
    errorKind_ = ErrorKind::Syntax;
    errorText_ = error.Text();
  } catch (const syntax_overflow&) {
    errorKind_ = ErrorKind::Overflow;
  } catch (const execution_error& error) {
    errorKind_ = ErrorKind::Execution;
    executionCode_ = error.Code();
  } catch (const std::exception&) {
    errorKind_ = ErrorKind::Execution;
    executionCode_ = ExecutionCode::InternalFailure;
  }
  root_ = nullptr;
  index_ = nullptr;
  pathContext_ = nullptr;
  ClearContext();
  order_.Reset();
  siblings_.Reset();
  view_.Reset(nullptr, nullptr);
  for (std::size_t i = 0; i < stack_.size(); ++i) stack_[i]->Reset();
  depth_ = 0;
  if (errorKind_ != ErrorKind::None) {
    result_.Reset();
    Convert(target);
  }
}

void xpath_processor::OverBudget() { throw execution_error(ExecutionCode::WorkBudget); }

void xpath_processor::Convert(Target target) {
  stringValue_.clear();
  integerValue_ = 0;
  booleanValue_ = false;
  numberValue_ = 0;
  switch (target) {
    case Target::String: stringValue_ = result_.ToString(); break;
    case Target::Integer: integerValue_ = result_.ToInteger().Held(); break;
    case Target::Boolean: booleanValue_ = result_.ToBoolean(); break;
    case Target::Number: numberValue_ = result_.ToNumber(); break;
    case Target::NodeSet: break;
  }
}

namespace {
// A number literal without a point is an integer when it fits one.
bool ReadIntegerLiteral(const std::string& text, std::int64_t& value) {
  if (text.empty() || text.find('.') != std::string::npos) return false;
  IntegerValue number = LeadingInteger(text);
  if (!number.fits) return false;
  value = number.exact;
  return true;
}
}  // namespace

// Turns the recorded actions into the program Run executes: operators
// resolved, blocks (steps, predicates, function calls) linked begin to end.
void xpath_processor::Prepare() {
  program_.clear();
  program_.reserve(actions_.size());
  openBlocks_.clear();
  for (std::size_t i = 0; i < actions_.size(); ++i) {
    const Action& a = actions_[i];
    Instruction ins;
    switch (a.rule) {
      case xr_location_path: ins.op = Op::Context; break;
      case xr_absolute_location_path: ins.op = Op::Root; break;
      case xr_step: PrepareStep(ins, i); break;
      case xr_predicate:
        if (a.subRule == xs_begin) {
          ins.op = Op::PredicateBegin;
          openBlocks_.emplace_back(program_.size(), i);
        } else {
          ins.op = Op::PredicateEnd;
          ins.match = CloseBlock(Op::PredicateBegin, a.number);
        }
        break;
      case xr_primary_expr: PreparePrimary(ins, a); break;
      case xr_function_call:
        if (a.subRule == xs_begin) {
          ins.op = Op::FunctionBegin;
          ins.text = a.text;
          ins.function = FunctionId(a.text);
          openBlocks_.emplace_back(program_.size(), i);
        } else {
          ins.op = Op::FunctionEnd;
          ins.arguments = a.number;
          ins.match = CloseBlock(Op::FunctionBegin, -1);
          program_[ins.match].arguments = a.number;
        }
        break;
      default: ins.op = OperatorOf(a); break;
    }
    program_.push_back(std::move(ins));
  }
  if (!openBlocks_.empty()) throw execution_error(ExecutionCode::UnbalancedBlock);
  MarkConstantPredicates();
}

// Closes the innermost open block, which must have begun with `begin` (at
// action `recordedBegin` when that is known); returns where it began.
std::size_t xpath_processor::CloseBlock(Op begin, int recordedBegin) {
  if (openBlocks_.empty() || program_[openBlocks_.back().first].op != begin) {
    throw execution_error(ExecutionCode::UnbalancedBlock);
  }
  if (recordedBegin >= 0 && static_cast<std::size_t>(recordedBegin) != openBlocks_.back().second) {
    throw execution_error(ExecutionCode::UnbalancedBlock);
  }
  std::size_t beginIndex = openBlocks_.back().first;
  openBlocks_.pop_back();
  program_[beginIndex].match = program_.size();
  return beginIndex;
}

// A step begins with its axis and is followed by its node test, which the
// step instruction takes over (`i` moves past it).
void xpath_processor::PrepareStep(Instruction& ins, std::size_t& i) {
  const Action& a = actions_[i];
  if (a.subRule != xs_begin) {
    ins.op = Op::StepEnd;
    ins.match = CloseBlock(Op::StepBegin, a.number);
    return;
  }
  if (i + 1 >= actions_.size() || actions_[i + 1].rule != xr_node_test) {
    throw execution_error(ExecutionCode::MisplacedAction);
  }
  ins.op = Op::StepBegin;
  ins.axis = a.number;
  ins.test = actions_[i + 1].subRule;
  ins.text = actions_[i + 1].text;
  // Resolved once here: steps run once per candidate in predicates.
  if (index_ != nullptr && ins.axis == axis_attribute && ins.test == test_name) {
    ins.attributeId = index_->FindAttributeName(ins.text);
  }
  openBlocks_.emplace_back(program_.size(), i);
  ++i;
}

void xpath_processor::PreparePrimary(Instruction& ins, const Action& a) {
  ins.text = a.text;
  if (a.subRule == 1) {
    ins.op = Op::Variable;
  } else if (a.subRule == 2) {
    ins.op = Op::Literal;
  } else if (ReadIntegerLiteral(a.text, ins.integer)) {
    ins.op = Op::Integer;
  } else {
    ins.op = Op::Number;
    ins.number = LeadingNumber(a.text);
  }
}

xpath_processor::Op xpath_processor::OperatorOf(const Action& a) {
  switch (a.rule) {
    case xr_union_expr: return Op::Union;
    case xr_or_expr: return Op::Or;
    case xr_and_expr: return Op::And;
    case xr_equality_expr: return a.subRule == 1 ? Op::Equal : Op::NotEqual;
    case xr_relational_expr: {
      static const Op kRelational[] = {Op::Less, Op::Greater, Op::LessEqual, Op::GreaterEqual};
      if (a.subRule < 1 || a.subRule > 4) throw execution_error(ExecutionCode::UnknownAction);
      return kRelational[a.subRule - 1];
    }
    case xr_additive_expr: return a.subRule == 1 ? Op::Add : Op::Subtract;
    case xr_multiplicative_expr: return a.subRule == 1 ? Op::Multiply : a.subRule == 2 ? Op::Divide : Op::Modulo;
    case xr_unary_expr: return Op::Negate;
    default: throw execution_error(ExecutionCode::UnknownAction);
  }
}

// A predicate that is one number literal is applied while its step
// produces the nodes.
void xpath_processor::MarkConstantPredicates() {
  for (std::size_t i = 0; i < program_.size(); ++i) {
    Instruction& predicate = program_[i];
    if (predicate.op != Op::PredicateBegin || predicate.match != i + 2) continue;
    const Instruction& value = program_[i + 1];
    if (value.op == Op::Integer) {
      predicate.constant = true;
      predicate.constantValue = value.integer;
    } else if (value.op == Op::Number) {
      predicate.constant = true;
      predicate.constantValue = NumberToInteger(value.number).Held();
    }
  }
}

ExpressionResult& xpath_processor::Push() {
  if (depth_ == stack_.size()) {
    if (stack_.empty()) stack_.reserve(8);
    stack_.push_back(std::make_unique<ExpressionResult>());
    stack_.back()->Nodes().SetDocumentOrder(&order_);
  }
  ExpressionResult& slot = *stack_[depth_++];
  slot.Reset();
  return slot;
}

ExpressionResult& xpath_processor::Top(std::size_t below) {
  if (depth_ <= below) throw execution_error(ExecutionCode::StackUnderflow);
  return *stack_[depth_ - 1 - below];
}

void xpath_processor::Pop(std::size_t count) {
  if (depth_ < count) throw execution_error(ExecutionCode::StackUnderflow);
  depth_ -= count;
}

void xpath_processor::ClearContext() {
  contextElement_ = nullptr;
  byName_ = false;
  contextPosition_ = 0;
}

void xpath_processor::Run(std::size_t begin, std::size_t end) {
  std::size_t i = begin;
  while (i < end) {
    const Instruction& ins = program_[i];
    switch (ins.op) {
      case Op::Context: {
        NodeSet& nodes = Push().SetNodeSet();
        if (pathContext_ != nullptr) nodes.AddUnique(pathContext_, 0, pathContextNumber_);
        ++i;
        break;
      }
      case Op::Root:
        Push().SetNodeSet().AddUnique(root_);
        ++i;
        break;
      case Op::StepBegin: i = ExecuteStep(i); break;
      case Op::PredicateBegin: i = ExecuteFilter(i); break;
      case Op::StepEnd:
      case Op::PredicateEnd: throw execution_error(ExecutionCode::MisplacedAction);
      case Op::Variable: throw error_not_yet(ExecutionCode::VariableReference);
      case Op::Literal:
        Push().BorrowString(ins.text);
        ++i;
        break;
      case Op::Integer:
        Push().SetInteger(ins.integer);
        ++i;
        break;
      case Op::Number:
        Push().SetNumber(ins.number);
        ++i;
        break;
      case Op::FunctionBegin:
        CheckFunction(ins);
        ++i;
        break;
      case Op::FunctionEnd:
        CallFunction(program_[ins.match]);
        ++i;
        break;
      case Op::Union:
        Union();
        ++i;
        break;
      default:
        Binary(ins.op);
        ++i;
        break;
    }
  }
}

std::size_t xpath_processor::ExecuteStep(std::size_t index) {
  const Instruction& step = program_[index];
  if (step.axis == axis_namespace) throw error_not_yet(ExecutionCode::NamespaceAxis);
  if (step.test == test_processing_instruction) throw error_not_yet(ExecutionCode::ProcessingInstruction);
  ExpressionResult& input = Top();
  if (input.Kind() != ResultKind::NodeSet) throw execution_error(ExecutionCode::NotANodeSet);

  std::size_t next = index + 1;
  const Instruction* first = program_[next].op == Op::PredicateBegin ? &program_[next] : nullptr;
  StepPlan plan;
  plan.byName = step.test == test_name;
  plan.positions = first != nullptr;
  plan.constant = first != nullptr && first->constant;
  plan.wanted = plan.constant ? first->constantValue : 0;

  NodeSet& out = Push().SetNodeSet();
  const bool filtered = Produce(step, input.Nodes(), out, plan);
  Charge(input.Nodes().Count() + out.Count());
  if (filtered) {
    // The candidates went through the first predicate as they were found;
    // like an evaluated predicate it leaves no context element behind.
    if (plan.anyCandidate) ClearContext();
    next = first->match + 1;
  }
  while (program_[next].op == Op::PredicateBegin) {
    ApplyPredicate(next, out, plan.byName, true);
    next = program_[next].match + 1;
  }
  if (program_[next].op != Op::StepEnd) throw execution_error(ExecutionCode::MisplacedAction);
  std::swap(stack_[depth_ - 2], stack_[depth_ - 1]);
  Pop();
  return next + 1;
}

std::size_t xpath_processor::ExecuteFilter(std::size_t index) {
  ExpressionResult& input = Top();
  if (input.Kind() != ResultKind::NodeSet) throw execution_error(ExecutionCode::NotANodeSet);
  std::size_t next = index;
  while (next < program_.size() && program_[next].op == Op::PredicateBegin) {
    ApplyPredicate(next, input.Nodes(), false, false);
    next = program_[next].match + 1;
  }
  return next;
}

std::uint32_t xpath_processor::PlaceOf(const NodeSet::Entry& entry, bool byName, bool stepPositions) {
  if (stepPositions && entry.position != 0) return entry.position;
  return siblings_.Position(static_cast<TiXmlNode*>(entry.item), byName);
}

// Each candidate in turn becomes the context element; a number keeps it
// when it equals the candidate's place among its siblings, anything else
// by its boolean value.
void xpath_processor::ApplyPredicate(std::size_t index, NodeSet& set, bool byName, bool stepPositions) {
  const Instruction& predicate = program_[index];
  std::vector<NodeSet::Entry>& entries = set.MutableEntries();
  TiXmlNode* savedPathContext = pathContext_;
  const std::uint32_t savedPathContextNumber = pathContextNumber_;
  // A predicate that reads an attribute of its context (such as
  // [@vendor='x']) finds it through the index; that attribute is fetched
  // ahead instead of the candidate elements.
  const std::uint32_t wanted = predicate.constant ? 0 : PredicateAttribute(index);
  const std::uint64_t cost = predicate.constant ? 1 : predicate.match - index;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    Count(cost);
    if (wanted != 0) {
      PrefetchAttributesAhead(*index_, wanted, entries.data() + i, entries.size() - i);
    } else {
      PrefetchAhead(entries.data() + i, entries.size() - i);
    }
    const NodeSet::Entry entry = entries[i];
    TiXmlNode* node = entry.Node();
    // The kind of a numbered entry is in the index: the node stays untouched.
    const bool element = index_ != nullptr && entry.number != 0 && node != nullptr ? index_->IsElement(entry.number)
                                                                                   : IsElement(node);
    if (!element) continue;
    contextElement_ = node;
    byName_ = byName;
    contextPosition_ = stepPositions ? entry.position : 0;
    bool keep;
    if (predicate.constant) {
      keep = static_cast<std::int64_t>(PlaceOf(entry, byName, stepPositions)) == predicate.constantValue;
    } else {
      pathContext_ = node;
      pathContextNumber_ = index_ != nullptr ? entry.number : 0;
      std::size_t before = depth_;
      Run(index + 1, predicate.match);
      if (depth_ != before + 1) throw execution_error(ExecutionCode::PredicateValueCount);
      const ExpressionResult& value = Top();
      if (value.Kind() == ResultKind::Integer || value.Kind() == ResultKind::Number) {
        keep = static_cast<std::int64_t>(PlaceOf(entry, byName, stepPositions)) == value.ToInteger().Held();
      } else {
        keep = value.ToBoolean();
      }
      Pop();
    }
    ClearContext();
    if (keep) entries[kept++] = entry;
  }
  entries.resize(kept);
  Charge(0);
  set.EntriesChanged();
  pathContext_ = savedPathContext;
  pathContextNumber_ = savedPathContextNumber;
}

std::uint32_t xpath_processor::PredicateAttribute(std::size_t index) const {
  if (index_ == nullptr) return 0;
  const Instruction& predicate = program_[index];
  for (std::size_t i = index + 1; i < predicate.match; ++i) {
    const Instruction& ins = program_[i];
    if (ins.op == Op::StepBegin && ins.axis == axis_attribute && ins.test == test_name) return ins.attributeId;
  }
  return 0;
}

}  // namespace XPath
